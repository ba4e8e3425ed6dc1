#include "web/VideoToBlocks.h"

#include <cstring>

#include "packet/ScreenPacketFormat.h"

namespace kwz_web {
namespace {

constexpr std::uint32_t kBlockSide = 100;
// The H.264 decoder reads (and may write) a few bytes behind the body it is given.
constexpr std::size_t kBodySlack = 64;

presenter::ScreenStreamSettings BlockSettings() {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = 1;
  settings.bytesPerPixel = 4;
  settings.zlibLevel = 1;  // the gateway's CPU matters more than the LAN's bytes
  return settings;
}

}  // namespace

VideoToBlocks::VideoToBlocks() {
  Reset();
}

VideoToBlocks::~VideoToBlocks() = default;

void VideoToBlocks::Reset() {
  m_surface = std::make_unique<CBMPManager>(kBlockSide, kBlockSide);
  if (!m_coder) m_coder = std::make_unique<presenter::CBlockCoder>(BlockSettings());
  m_havePrevious = false;
}

bool VideoToBlocks::ReadSurface(int width, int height) {
  const BITMAPINFOHEADER& surface = m_surface->SurfaceHeader();
  const int bytesPerPixel = surface.biBitCount / 8;
  const std::uint8_t* pixels = m_surface->Pixels();
  if (pixels == nullptr || (bytesPerPixel != 3 && bytesPerPixel != 4) || surface.biWidth < width ||
      surface.biHeight < height) {
    return false;
  }
  // A bottom-up DIB: the picture's top row is the bitmap's last row.
  const std::size_t stride = m_surface->Stride();
  m_upright.resize(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* from = pixels + (surface.biHeight - 1 - y) * stride;
    std::uint8_t* to = m_upright.data() + static_cast<std::size_t>(y) * width * 4;
    if (bytesPerPixel == 4) {
      std::memcpy(to, from, static_cast<std::size_t>(width) * 4);
      continue;
    }
    for (int x = 0; x < width; ++x, from += 3, to += 4) {
      to[0] = from[0];
      to[1] = from[1];
      to[2] = from[2];
      to[3] = 0xFF;
    }
  }
  return true;
}

void VideoToBlocks::Decode(const BrowserFrame& frame, std::vector<BrowserFramePtr>* out) {
  const ScreenFields& fields = frame.fields;
  if (!frame.IsVideo() || fields.width == 0 || fields.height == 0) return;
  const std::size_t bodyLength = frame.wire.size() - kFrameFlagsSize - screen_packet::kHeaderSize;
  m_body.assign(frame.wire.begin() + kFrameFlagsSize + screen_packet::kHeaderSize,
                frame.wire.end());
  m_body.resize(bodyLength + kBodySlack);

  BITMAPINFOHEADER header{};
  header.biWidth = fields.width;
  header.biHeight = fields.height;
  header.biBitCount = static_cast<WORD>(fields.bytesPerPixel * 8);
  header.biCompression = fields.bytesPerPixel;  // the surface takes bytes per pixel here
  m_surface->SetStreamMode(fields.streamMode);
  if (m_surface->DecodeMessage(header, 0, m_body.data(), static_cast<std::uint32_t>(bodyLength)) <=
      0) {
    return;
  }
  if (!ReadSurface(fields.width, fields.height)) return;

  const int paddedWidth = (fields.width + kBlockSide - 1) / kBlockSide * kBlockSide;
  const int paddedHeight = (fields.height + kBlockSide - 1) / kBlockSide * kBlockSide;
  const presenter::BgraView view{m_upright.data(), fields.width, fields.height, fields.width * 4};
  if (!m_picture.Fill(view, paddedWidth, paddedHeight, presenter::RowOrder::kBottomUp)) return;
  const bool whole = !m_havePrevious || m_previous.Width() != m_picture.Width() ||
                     m_previous.Height() != m_picture.Height();

  ScreenFields blockFields = fields;
  blockFields.streamMode = 1;
  blockFields.bytesPerPixel = 4;
  const int blocks =
      (paddedWidth / static_cast<int>(kBlockSide)) * (paddedHeight / static_cast<int>(kBlockSide));
  const std::size_t before = out->size();
  std::vector<std::uint8_t> body;
  for (int index = 0; index < blocks; ++index) {
    if (!whole && !presenter::CBlockCoder::BlockDiffers(m_previous, m_picture, index)) continue;
    if (!m_coder->Code(m_picture, index, &body)) continue;
    blockFields.blockIndex = static_cast<std::uint16_t>(index);
    out->push_back(MakeScreenFrame(blockFields, body.data(), body.size(), false));
  }
  const bool cursorMoved = fields.cursorX != m_cursorX || fields.cursorY != m_cursorY;
  if (out->size() == before && cursorMoved) {
    blockFields.streamMode = 0;
    blockFields.blockIndex = 0;
    out->push_back(MakeScreenFrame(blockFields, nullptr, 0, false));
  }
  m_cursorX = fields.cursorX;
  m_cursorY = fields.cursorY;
  m_previous.Swap(m_picture);
  m_havePrevious = true;
}

}  // namespace kwz_web
