#include "presenter/CH264FrameEncoder.h"

#include <wels/codec_api.h>

#include <algorithm>
#include <iterator>

namespace {

// The quantiser ranges of the ladder's steps; 51 is H.264's coarsest. The first one's ceiling
// keeps 1-pixel text legible; each coarser step shrinks a text-heavy key frame by about a fifth.
struct QpRange {
  int min;
  int max;
};
constexpr QpRange kQpLadder[] = {{12, 32}, {34, 36}, {38, 40}, {42, 44},
                                 {45, 46}, {47, 48}, {49, 50}, {51, 51}};

}  // namespace

void CH264FrameEncoder::EncoderDeleter::operator()(ISVCEncoder* encoder) const {
  // Uninitialize is harmless on an encoder that never started.
  encoder->Uninitialize();
  WelsDestroySVCEncoder(encoder);
}

CH264FrameEncoder::CH264FrameEncoder(const FrameEncoderSettings& settings)
    : CFrameEncoderBase(settings), m_param(std::make_unique<SEncParamExt>()) {
  ISVCEncoder* raw = nullptr;
  if (WelsCreateSVCEncoder(&raw) != 0 || raw == nullptr)
    throw exc_frame_encoder(u"CH264FrameEncoder.cpp", __LINE__, u"WelsCreateSVCEncoder failed.", 0);
  m_encoder.reset(raw);
  SEncParamExt& param = *m_param;
  m_encoder->GetDefaultParams(&param);
  const int bitRate = settings.EffectiveBitRateKbps() * 1000;
  param.iUsageType = SCREEN_CONTENT_REAL_TIME;
  param.iPicWidth = settings.width;
  param.iPicHeight = settings.height;
  param.iTargetBitrate = bitRate;
  param.iMaxBitrate = UNSPECIFIED_BIT_RATE;
  param.iRCMode = RC_BITRATE_MODE;
  param.fMaxFrameRate = static_cast<float>(settings.frameRate);
  // A skipped frame would leave a viewer with a stale screen; the size cap is kept by re-encoding.
  param.bEnableFrameSkip = false;
  param.iTemporalLayerNum = 1;
  param.iSpatialLayerNum = 1;
  // Key frames only when asked for (a viewer joins) or after a frame was dropped.
  param.uiIntraPeriod = 0;
  param.iMultipleThreadIdc = 1;
  // Neither is available for screen content; asking would only log a warning.
  param.bEnableAdaptiveQuant = false;
  param.bEnableBackgroundDetection = false;
  // Constrained Baseline: OpenH264's decoder holds back pictures of Main-profile streams for
  // reordering, and a receiver decoding with DecodeFrameNoDelay must get each picture at once.
  param.iEntropyCodingModeFlag = 0;
  param.iMinQp = kQpLadder[0].min;
  param.iMaxQp = kQpLadder[0].max;
  // The deblocking filter smooths the edges of text, which costs more than its blocking saves
  // on a screen: at a fine quantiser it held a desktop's luma near 36 dB, without it 46 dB.
  param.iLoopFilterDisableIdc = 1;
  // A key frame may take the whole cap, i.e. this many times the average frame.
  const int64_t averageFrameBits = std::max<int64_t>(bitRate / settings.frameRate, 1);
  param.iIdrBitrateRatio = static_cast<int>(std::clamp<int64_t>(
      static_cast<int64_t>(settings.maxFrameBytes) * 8 * 100 / averageFrameBits, 100, 2000));
  SSpatialLayerConfig& layer = param.sSpatialLayers[0];
  layer.iVideoWidth = settings.width;
  layer.iVideoHeight = settings.height;
  layer.fFrameRate = param.fMaxFrameRate;
  layer.iSpatialBitrate = bitRate;
  layer.iMaxSpatialBitrate = UNSPECIFIED_BIT_RATE;
  layer.uiProfileIdc = PRO_BASELINE;
  layer.sSliceArgument.uiSliceMode = SM_SINGLE_SLICE;
  if (!Start(0))
    throw exc_frame_encoder(u"CH264FrameEncoder.cpp", __LINE__,
                            u"OpenH264 refused the encoder settings.", 0);
}

CH264FrameEncoder::~CH264FrameEncoder() = default;

int CH264FrameEncoder::CoarseLevels() const {
  return static_cast<int>(std::size(kQpLadder)) - 1;
}

bool CH264FrameEncoder::Start(int coarseLevel) {
  if (m_started) m_encoder->Uninitialize();
  m_started = false;
  m_param->iMinQp = kQpLadder[coarseLevel].min;
  m_param->iMaxQp = kQpLadder[coarseLevel].max;
  int traceLevel = WELS_LOG_ERROR;
  m_encoder->SetOption(ENCODER_OPTION_TRACE_LEVEL, &traceLevel);
  if (m_encoder->InitializeExt(m_param.get()) != cmResultSuccess) return false;
  m_started = true;
  m_level = coarseLevel;
  int format = videoFormatI420;
  m_encoder->SetOption(ENCODER_OPTION_DATAFORMAT, &format);
  return true;
}

bool CH264FrameEncoder::EncodePicture(const CI420Picture& picture, bool keyFrame, int coarseLevel,
                                      std::vector<uint8_t>* out, bool* isKeyFrame) {
  // OpenH264's rate control takes its quantiser range only when it starts, and a restarted
  // encoder opens with a key frame: so a key frame at another step restarts it, and the inter
  // frames after it keep that step's range until the next key frame.
  if (coarseLevel != m_level) {
    if (!Start(coarseLevel)) return false;
  }
  if (keyFrame) m_encoder->ForceIntraFrame(true);

  SSourcePicture source{};
  source.iColorFormat = videoFormatI420;
  source.iPicWidth = picture.Width();
  source.iPicHeight = picture.Height();
  source.iStride[0] = picture.StrideY();
  source.iStride[1] = source.iStride[2] = picture.StrideUV();
  // OpenH264 reads the planes only; its interface just lacks const.
  source.pData[0] = const_cast<uint8_t*>(picture.Y());
  source.pData[1] = const_cast<uint8_t*>(picture.U());
  source.pData[2] = const_cast<uint8_t*>(picture.V());
  source.uiTimeStamp = static_cast<long long>(m_frameIndex++ * 1000 / Settings().frameRate);

  SFrameBSInfo info{};
  if (m_encoder->EncodeFrame(&source, &info) != cmResultSuccess) return false;
  if (info.eFrameType == videoFrameTypeSkip) return true;
  if (info.eFrameType == videoFrameTypeInvalid) return false;
  // Each NAL already carries its start code: the layers' buffers concatenate into Annex B.
  for (int i = 0; i < info.iLayerNum; ++i) {
    const SLayerBSInfo& layer = info.sLayerInfo[i];
    size_t layerBytes = 0;
    for (int n = 0; n < layer.iNalCount; ++n) layerBytes += layer.pNalLengthInByte[n];
    out->insert(out->end(), layer.pBsBuf, layer.pBsBuf + layerBytes);
  }
  *isKeyFrame = info.eFrameType == videoFrameTypeIDR || info.eFrameType == videoFrameTypeI;
  return true;
}
