#include "presenter/CBlockCoder.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "codec/CVideoEncoder.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/ScreenMessageWriter.h"

namespace presenter {
namespace {

constexpr std::size_t kBlockPixels = static_cast<std::size_t>(kBlockWidth) * kBlockHeight;
constexpr std::size_t kBlockRowBytes = static_cast<std::size_t>(kBlockWidth) * 4;

// Picture row and byte offset of the first (bottom) row of a block.
bool BlockOrigin(const CPaddedPicture& picture, int index, int* row, std::size_t* offset) {
  const int perRow = picture.Width() / kBlockWidth;
  const int perColumn = picture.Height() / kBlockHeight;
  if (index < 0 || perRow == 0 || index >= perRow * perColumn) return false;
  *row = index / perRow * kBlockHeight;
  *offset = static_cast<std::size_t>(index % perRow) * kBlockRowBytes;
  return true;
}

// For each 8-bit channel value, the nearest of the levels a viewer's palette shows
// (level × 255 / (levels − 1), rounded down as the viewer builds it).
struct NearestLevels {
  explicit NearestLevels(int levels) {
    for (int value = 0; value < 256; ++value) {
      int best = 0;
      for (int level = 1; level < levels; ++level) {
        const int shown = level * 255 / (levels - 1);
        const int bestShown = best * 255 / (levels - 1);
        if (std::abs(shown - value) < std::abs(bestShown - value)) best = level;
      }
      table[value] = static_cast<std::uint8_t>(best);
    }
  }
  std::uint8_t table[256];
};

}  // namespace

std::uint8_t PaletteIndex332(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  static const NearestLevels eight(8);
  static const NearestLevels four(4);
  return static_cast<std::uint8_t>(eight.table[red] << 5 | eight.table[green] << 2 |
                                   four.table[blue]);
}

CBlockCoder::CBlockCoder(const ScreenStreamSettings& settings)
    : m_settings(settings), m_block(kBlockPixels * 4) {
  if (settings.bytesPerPixel == 1) m_indices.resize(kBlockPixels);
  if (settings.streamMode != 2) return;
  BITMAPINFOHEADER format{};
  format.biSize = sizeof(BITMAPINFOHEADER);
  format.biWidth = kBlockWidth;
  format.biHeight = kBlockHeight;
  format.biPlanes = 1;
  format.biBitCount = 32;
  format.biCompression = BI_RGB;
  m_jpeg = std::make_unique<CVideoEncoder>();
  m_jpeg->SetCodecId(kwz_codec::kCodecMjpeg);
  m_jpeg->SetFrameRate(settings.frameRate);
  if (settings.bitRateKbps > 0) m_jpeg->SetBitRate(settings.bitRateKbps);
  if (settings.jpegQuality > 0) m_jpeg->SetQuality(settings.jpegQuality);
  if (m_jpeg->SetInputFormat(&format) != 0 || m_jpeg->Open() != 0) {
    throw exc_screen_streamer(u"CBlockCoder.cpp", __LINE__,
                              u"The JPEG block encoder failed to open.", 0);
  }
}

CBlockCoder::~CBlockCoder() = default;

bool CBlockCoder::Gather(const CPaddedPicture& picture, int index) {
  int row = 0;
  std::size_t offset = 0;
  if (!BlockOrigin(picture, index, &row, &offset)) return false;
  for (int y = 0; y < kBlockHeight; ++y) {
    std::memcpy(m_block.data() + y * kBlockRowBytes, picture.Row(row + y) + offset, kBlockRowBytes);
  }
  if (m_settings.bytesPerPixel == 1) {
    for (std::size_t i = 0; i < kBlockPixels; ++i) {
      const std::uint8_t* p = m_block.data() + i * 4;
      m_indices[i] = PaletteIndex332(p[2], p[1], p[0]);
    }
  }
  return true;
}

bool CBlockCoder::Code(const CPaddedPicture& picture, int index, std::vector<std::uint8_t>* body) {
  body->clear();
  if (!Gather(picture, index)) return false;
  if (m_jpeg) {
    body->resize(kMaxBody);
    DWORD bytes = 0;
    // The block's first row is its bottom row; the JPEG codes its rows in that order, and the
    // viewer decodes them into the block buffer unflipped.
    if (m_jpeg->Encode(m_block.data(), static_cast<int>(kBlockRowBytes), body->data(),
                       static_cast<DWORD>(body->size()), &bytes) != 0 ||
        bytes == 0) {
      body->clear();
      return false;
    }
    body->resize(bytes);
    return true;
  }
  const std::vector<std::uint8_t>& raw = m_settings.bytesPerPixel == 1 ? m_indices : m_block;
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  body->resize(size);
  if (compress2(body->data(), &size, raw.data(), static_cast<uLong>(raw.size()),
                m_settings.zlibLevel) != Z_OK ||
      size > kMaxBody) {
    body->clear();
    return false;
  }
  body->resize(size);
  return true;
}

bool CBlockCoder::BlockDiffers(const CPaddedPicture& a, const CPaddedPicture& b, int index) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return true;
  int row = 0;
  std::size_t offset = 0;
  if (!BlockOrigin(a, index, &row, &offset)) return false;
  for (int y = 0; y < kBlockHeight; ++y) {
    if (std::memcmp(a.Row(row + y) + offset, b.Row(row + y) + offset, kBlockRowBytes) != 0)
      return true;
  }
  return false;
}

}  // namespace presenter
