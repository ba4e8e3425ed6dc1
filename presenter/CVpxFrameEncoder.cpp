#include "presenter/CVpxFrameEncoder.h"

#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>
#include <iterator>

namespace {

// Quantiser indices (0 to 63) of the ladder: the ceiling of the first step keeps 1-pixel text
// legible; the coarser steps are the fixed quantisers of key frames coded again to fit the cap,
// each about a sixth smaller on a text-heavy screen.
constexpr unsigned kQuantizerLadder[] = {32, 40, 46, 52, 58, 61, 63};

void AppendLittleEndian(uint32_t word, std::vector<uint8_t>* out) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(word >> shift));
}

}  // namespace

void CVpxFrameEncoder::ContextDeleter::operator()(vpx_codec_ctx* context) const {
  vpx_codec_destroy(context);
  delete context;
}

CVpxFrameEncoder::CVpxFrameEncoder(Codec codec, const FrameEncoderSettings& settings)
    : CFrameEncoderBase(settings), m_config(std::make_unique<vpx_codec_enc_cfg>()) {
  Configure(codec, settings);
}

CVpxFrameEncoder::~CVpxFrameEncoder() = default;

void CVpxFrameEncoder::Configure(Codec codec, const FrameEncoderSettings& settings) {
  vpx_codec_iface_t* iface = codec == Codec::kVp8 ? vpx_codec_vp8_cx() : vpx_codec_vp9_cx();
  vpx_codec_enc_cfg& cfg = *m_config;
  if (vpx_codec_enc_config_default(iface, &cfg, 0) != VPX_CODEC_OK)
    throw exc_frame_encoder(u"CVpxFrameEncoder.cpp", __LINE__, u"No libvpx default settings.", 0);
  cfg.g_w = static_cast<unsigned>(settings.width);
  cfg.g_h = static_cast<unsigned>(settings.height);
  cfg.g_timebase = {1, settings.frameRate};
  cfg.g_threads = 1;
  cfg.g_lag_in_frames = 0;
  cfg.g_pass = VPX_RC_ONE_PASS;
  cfg.g_error_resilient = 0;
  cfg.rc_end_usage = VPX_CBR;
  cfg.rc_target_bitrate = static_cast<unsigned>(settings.EffectiveBitRateKbps());
  // A dropped frame would leave a viewer with a stale screen; the size cap is kept by re-encoding.
  cfg.rc_dropframe_thresh = 0;
  cfg.rc_resize_allowed = 0;
  cfg.rc_min_quantizer = m_normalMinQuantizer = codec == Codec::kVp8 ? 4 : 2;
  cfg.rc_max_quantizer = kQuantizerLadder[0];
  cfg.rc_undershoot_pct = 50;
  cfg.rc_overshoot_pct = 50;
  cfg.rc_buf_sz = 1000;
  cfg.rc_buf_initial_sz = 600;
  cfg.rc_buf_optimal_sz = 600;
  // Key frames only when asked for (a viewer joins) or after a frame was dropped.
  cfg.kf_mode = VPX_KF_DISABLED;

  m_context.reset(new vpx_codec_ctx{});
  if (vpx_codec_enc_init(m_context.get(), iface, &cfg, 0) != VPX_CODEC_OK) {
    delete m_context.release();  // nothing to destroy when init failed
    throw exc_frame_encoder(u"CVpxFrameEncoder.cpp", __LINE__,
                            u"libvpx refused the encoder settings.", 0);
  }
  // A key frame may take the whole cap: this percentage of the average frame.
  const int64_t averageFrameBits =
      std::max<int64_t>(int64_t{cfg.rc_target_bitrate} * 1000 / settings.frameRate, 1);
  const int intraPct = static_cast<int>(std::clamp<int64_t>(
      static_cast<int64_t>(settings.maxFrameBytes) * 8 * 100 / averageFrameBits, 100, 5000));
  vpx_codec_ctx* ctx = m_context.get();
  vpx_codec_control(ctx, VP8E_SET_MAX_INTRA_BITRATE_PCT, static_cast<unsigned>(intraPct));
  if (codec == Codec::kVp8) {
    // VP8's loop filter cannot be turned off; the sharpest setting smooths text edges least.
    vpx_codec_control(ctx, VP8E_SET_SHARPNESS, 7U);
    // A negative value fixes the speed: a positive one lets VP8 adapt it to the time each frame
    // took, and the quality of a frame then depends on what else the machine is doing.
    vpx_codec_control(ctx, VP8E_SET_CPUUSED, -8);
    vpx_codec_control(ctx, VP8E_SET_SCREEN_CONTENT_MODE, 1U);
    vpx_codec_control(ctx, VP8E_SET_NOISE_SENSITIVITY, 0U);
    vpx_codec_control(ctx, VP8E_SET_STATIC_THRESHOLD, 1U);
  } else {
    vpx_codec_control(ctx, VP8E_SET_CPUUSED, 7);
    vpx_codec_control(ctx, VP9E_SET_TUNE_CONTENT, static_cast<int>(VP9E_CONTENT_SCREEN));
    vpx_codec_control(ctx, VP9E_SET_MAX_INTER_BITRATE_PCT, static_cast<unsigned>(intraPct));
    vpx_codec_control(ctx, VP9E_SET_AQ_MODE, 0U);
    vpx_codec_control(ctx, VP9E_SET_ROW_MT, 0U);
    // The loop filter smooths the edges of text, which costs more than its blocking saves.
    vpx_codec_control(ctx, VP9E_SET_DISABLE_LOOPFILTER, 2);
  }
}

int CVpxFrameEncoder::CoarseLevels() const {
  return static_cast<int>(std::size(kQuantizerLadder)) - 1;
}

bool CVpxFrameEncoder::ApplyQuantizerRange(int coarseLevel, bool keyFrame) {
  // libvpx takes a new range between frames without a key frame, so inter frames get the rate
  // control's whole range below the step's ceiling, and a coarse key frame a fixed quantiser.
  const unsigned max = kQuantizerLadder[coarseLevel];
  const unsigned min = keyFrame && coarseLevel > 0 ? max : m_normalMinQuantizer;
  if (min == m_config->rc_min_quantizer && max == m_config->rc_max_quantizer) return true;
  m_config->rc_min_quantizer = min;
  m_config->rc_max_quantizer = max;
  return vpx_codec_enc_config_set(m_context.get(), m_config.get()) == VPX_CODEC_OK;
}

bool CVpxFrameEncoder::EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                                     std::vector<uint8_t>* out, bool* isKeyFrame) {
  if (!ApplyQuantizerRange(coarseLevel, keyFrame)) return false;
  vpx_image_t image;
  // libvpx reads the planes only; the image record just lacks const.
  if (vpx_img_wrap(&image, VPX_IMG_FMT_I420, static_cast<unsigned>(picture.Width()),
                   static_cast<unsigned>(picture.Height()), 1,
                   const_cast<uint8_t*>(picture.Y())) == nullptr)
    return false;
  image.planes[VPX_PLANE_U] = const_cast<uint8_t*>(picture.U());
  image.planes[VPX_PLANE_V] = const_cast<uint8_t*>(picture.V());
  image.stride[VPX_PLANE_Y] = picture.StrideY();
  image.stride[VPX_PLANE_U] = image.stride[VPX_PLANE_V] = picture.StrideUV();

  const vpx_enc_frame_flags_t flags = keyFrame ? VPX_EFLAG_FORCE_KF : 0;
  if (vpx_codec_encode(m_context.get(), &image, m_pts++, 1, flags, VPX_DL_REALTIME) != VPX_CODEC_OK)
    return false;

  // Without look-ahead each call yields at most one frame packet.
  bool key = false;
  vpx_codec_iter_t iter = nullptr;
  while (const vpx_codec_cx_pkt_t* packet = vpx_codec_get_cx_data(m_context.get(), &iter)) {
    if (packet->kind != VPX_CODEC_CX_FRAME_PKT) continue;
    if (out->empty()) {
      key = (packet->data.frame.flags & VPX_FRAME_IS_KEY) != 0;
      AppendLittleEndian(key ? kVpxKeyFrameMarker : kVpxInterFrameMarker, out);
    }
    const auto* bytes = static_cast<const uint8_t*>(packet->data.frame.buf);
    out->insert(out->end(), bytes, bytes + packet->data.frame.sz);
  }
  *isKeyFrame = key;
  return true;
}
