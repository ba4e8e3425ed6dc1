#include "codec/CVideoDecoder.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/AvcodecLockGuard.h"
#include "codec/DecoderBackend.h"
#include "platform/ipp.h"
#include "platform/winerror.h"

using namespace kwz_codec;

namespace {

constexpr BYTE kStartCode[4] = {0, 0, 0, 1};

DWORD ReadLe32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
         static_cast<DWORD>(p[3]) << 24;
}

}  // namespace

// FFmpeg 5 registers its codecs itself, so nothing is registered under the mutex here.
CVideoDecoder::CVideoDecoder() = default;

CVideoDecoder::~CVideoDecoder() {
  Close();
}

HRESULT CVideoDecoder::SetOutputFormat(const BITMAPINFOHEADER* format) {
  if (format == nullptr) {
    m_outputFormat = kFormatNone;
    return E_FAIL;
  }
  DWORD layout = kFormatNone;
  if (format->biCompression == BI_RGB) {
    switch (format->biBitCount) {
      case 32:
        layout = kFormatRgb32;
        break;
      case 24:
        layout = kFormatRgb24;
        break;
      case 16:
        layout = kFormatRgb16;
        break;
      default:
        break;
    }
  }
  const long long width = format->biWidth;
  const long long height = std::llabs(static_cast<long long>(format->biHeight));
  if (layout == kFormatNone || width < 1 || width > kMaxPictureSide || height < 1 ||
      height > kMaxPictureSide) {
    m_outputFormat = kFormatNone;
    return E_FAIL;
  }
  m_outputFormat = layout;
  m_width = format->biWidth;
  m_height = format->biHeight;
  // Rows are padded to 4 bytes, as in a DIB.
  m_outputStride = static_cast<LONG>((format->biBitCount * width + 31) / 32 * 4);
  m_frameSize = static_cast<DWORD>(m_outputStride * height);
  return S_OK;
}

bool CVideoDecoder::IsVpx() const {
  return m_codecId == kCodecVp8 || m_codecId == kCodecVp9;
}

HRESULT CVideoDecoder::Open() {
  if (m_opened) return S_OK;
  if (m_width < 1 || m_height == 0) return E_FAIL;
  try {
    std::unique_ptr<IDecoderBackend> backend;
    switch (m_codecId) {
      case kCodecMpeg4:
      case kCodecMjpeg:
        backend = CreateFfmpegBackend(m_codecId);
        break;
      case kCodecH264:
        backend = CreateH264Backend();
        break;
      case kCodecVp8:
      case kCodecVp9:
        backend = CreateVpxBackend(m_codecId);
        break;
      default:
        return E_FAIL;
    }
    if (backend->UsesAvcodec()) {
      // The failed backend is released inside the lock too.
      AvcodecLockGuard guard(m_avcodecLock);
      if (!backend->Open(m_width, m_height)) return E_FAIL;
      m_backend = std::move(backend);
    } else {
      if (!backend->Open(m_width, m_height)) return E_FAIL;
      m_backend = std::move(backend);
    }
  } catch (const std::bad_alloc&) {
    return E_FAIL;
  }
  // VP8 and VP9 open themselves on their first key frame.
  if (!IsVpx()) m_opened = true;
  return S_OK;
}

HRESULT CVideoDecoder::Close() {
  if (m_backend && !m_backend->UsesAvcodec()) m_backend.reset();
  AvcodecLockGuard guard(m_avcodecLock);
  m_backend.reset();
  m_opened = false;
  return S_OK;
}

HRESULT CVideoDecoder::Decode(BYTE* data, int length, BYTE* destination, DWORD* pictureBytes,
                              bool* sizeChanged) {
  CCritSecLock lock(&m_decodeLock);  // the section is recursive
  return Decode(data, length, destination, m_outputStride, pictureBytes, sizeChanged);
}

HRESULT CVideoDecoder::Decode(BYTE* data, int length, BYTE* destination, LONG stride,
                              DWORD* pictureBytes, bool* sizeChanged) {
  CCritSecLock lock(&m_decodeLock);
  if (stride < m_outputStride) return E_FAIL;
  try {
    return DecodeLocked(data, length, destination, stride, pictureBytes, sizeChanged);
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

HRESULT CVideoDecoder::DecodeLocked(BYTE* data, int length, BYTE* destination, LONG stride,
                                    DWORD* pictureBytes, bool* sizeChanged) {
  if (destination == nullptr || pictureBytes == nullptr || sizeChanged == nullptr) return E_FAIL;
  if (IsVpx() ? !m_backend : !m_opened) return E_FAIL;
  // An empty packet would ask FFmpeg to drain and end its stream; it carries no picture.
  if (data == nullptr || length <= 0) return 1;

  const BYTE* coded = data;
  int codedLength = length;
  if (m_codecId == kCodecH264) {
    std::memcpy(data + length, kStartCode, sizeof(kStartCode));
  } else if (IsVpx()) {
    const DWORD word = length >= 4 ? ReadLe32(data) : 0;
    if (word == kVpxKeyFrameWord) m_opened = true;
    // Inter frames before the first key frame have nothing to refer to.
    if (!m_opened) return 1;
    if (word == kVpxKeyFrameWord || word == kVpxInterFrameWord) {
      coded += 4;
      codedLength -= 4;
    }
    if (codedLength == 0) return 1;
  }

  const unsigned long deadlineUs = m_frameRate >= 1 ? 1000000ul / m_frameRate : 0;
  YuvPicture picture;
  if (!m_backend->Decode(coded, codedLength, deadlineUs, &picture)) return 1;
  if (picture.width != m_width || picture.height != m_height) {
    *sizeChanged = true;
    m_newWidth = picture.width;
    m_newHeight = picture.height;
    // A frame the backend refused to decode left its references behind: the inter frames
    // after it wait for the next key frame.
    if (IsVpx() && picture.planes[0] == nullptr) m_opened = false;
    return 1;
  }
  if (!Convert(picture, destination, stride)) return 1;
  *sizeChanged = false;
  *pictureBytes = m_frameSize;
  return S_OK;
}

bool CVideoDecoder::Convert(const YuvPicture& picture, BYTE* destination, LONG stride) const {
  const Ipp8u* planes[3] = {picture.planes[0], picture.planes[1], picture.planes[2]};
  int strides[3] = {picture.strides[0], picture.strides[1], picture.strides[2]};
  const IppiSize size = {m_width, m_height};
  if (m_outputFormat == kFormatRgb32) {
    if (w7_ippiYCbCr420ToBGR_8u_P3C4R(planes, strides, destination, stride, size, 0) !=
        ippStsNoErr) {
      return false;
    }
    if (!m_flipRGB32 || m_codecId == kCodecMjpeg) return true;
    return w7_ippiMirror_8u_C4IR(destination, stride, size, ippAxsHorizontal) == ippStsNoErr;
  }
  if (m_outputFormat == kFormatRgb24) {
    // 24-bit output always goes bottom row first, as the DIB is painted.
    return w7_ippiYCbCr420ToBGR_8u_P3C3R(planes, strides, destination, stride, size) ==
               ippStsNoErr &&
           w7_ippiMirror_8u_C3IR(destination, stride, size, ippAxsHorizontal) == ippStsNoErr;
  }
  if (m_outputFormat == kFormatRgb16) {
    return w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(planes, strides,
                                               reinterpret_cast<Ipp16u*>(destination), stride,
                                               size) == ippStsNoErr;
  }
  return false;  // no layout, or NONE after a rejected description: nothing is written
}
