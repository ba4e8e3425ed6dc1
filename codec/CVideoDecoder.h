// The video decoder wrapper: configured with a codec identifier, a picture size and an output
// pixel format, opened, then fed one coded packet at a time. Each Decode either writes one
// picture, converted to the output format, into the caller's buffer or reports that none is
// available this time. Results are HRESULT-style: 0, 1 (no picture) or E_FAIL; no exception
// leaves it.
//
// Threads: the engine calls SetOutputFormat, Open, Close and the setters from its decoding
// thread under its own lock; Decode holds the decoder's own critical section. Every FFmpeg
// context open and release holds the avcodec mutex.
#pragma once

#include <memory>

#include "codec/CodecIds.h"
#include "platform/wingdi.h"
#include "platform/wintypes.h"
#include "runtime/CCriticalSection.h"
#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

namespace kwz_codec {
class IDecoderBackend;
struct YuvPicture;
}  // namespace kwz_codec

class CVideoDecoder {
 public:
  CVideoDecoder();
  ~CVideoDecoder();
  CVideoDecoder(const CVideoDecoder&) = delete;
  CVideoDecoder& operator=(const CVideoDecoder&) = delete;

  // Uncompressed RGB of 32, 24 or 16 bits sets the output layout, the size (biHeight as given)
  // and the frame size; returns 0. Anything else (another bit count or compression, or a side
  // outside 1..kMaxPictureSide) sets the layout to NONE, keeps the size, and returns E_FAIL.
  HRESULT SetOutputFormat(const BITMAPINFOHEADER* format);

  // 0 at once when opened; E_FAIL for an unknown identifier, no size, or a library failure.
  // H.264 and FFmpeg codecs are opened afterwards; VP8 and VP9 wait for their first key frame.
  HRESULT Open();

  // Decodes one packet into destination, which must hold FrameSize() bytes.
  //   0: a picture was written; *pictureBytes = frame size, *sizeChanged = false.
  //   1: no picture (more data needed, codec error, dropped before a key frame, a picture of
  //      another size, which sets *sizeChanged and records NewWidth/NewHeight, or one that
  //      could not be converted).
  //   E_FAIL: not opened (VP8/VP9: not set up by Open), or a null output pointer.
  // For H.264 the four bytes behind the packet, data[length..length+3], must be writable: the
  // start code 00 00 00 01 is written there.
  HRESULT Decode(BYTE* data, int length, BYTE* destination, DWORD* pictureBytes, bool* sizeChanged);
  // The same into rows that are stride bytes apart, such as one block's place in a larger
  // bitmap; E_FAIL for a stride below the picture's row bytes.
  HRESULT Decode(BYTE* data, int length, BYTE* destination, LONG stride, DWORD* pictureBytes,
                 bool* sizeChanged);

  // Releases every codec handle and clears the opened flag; harmless when closed. Returns 0.
  HRESULT Close();

  void SetCodecId(int codecId) { m_codecId = codecId; }
  int CodecId() const { return m_codecId; }
  // Frames per second; sets the VP8/VP9 decode deadline (values below 1 mean no deadline).
  void SetFrameRate(int frameRate) { m_frameRate = frameRate; }
  // When set (the initial state), 32-bit output of every codec but JPEG is stored bottom row
  // first.
  void SetFlipRGB32(bool flip) { m_flipRGB32 = flip; }

  bool IsOpened() const { return m_opened; }
  DWORD OutputFormat() const { return m_outputFormat; }
  DWORD FrameSize() const { return m_frameSize; }
  LONG NewWidth() const { return m_newWidth; }
  LONG NewHeight() const { return m_newHeight; }

 private:
  bool IsVpx() const;
  // Converts into destination; false when a conversion or mirror step fails.
  bool Convert(const kwz_codec::YuvPicture& picture, BYTE* destination, LONG stride) const;
  HRESULT DecodeLocked(BYTE* data, int length, BYTE* destination, LONG stride, DWORD* pictureBytes,
                       bool* sizeChanged);

  LONG m_width = 0;
  LONG m_height = 0;
  DWORD m_outputFormat = 0;
  LONG m_outputStride = 0;
  DWORD m_frameSize = 0;
  int m_frameRate = 0;
  int m_codecId = 0;
  bool m_opened = false;
  bool m_flipRGB32 = true;
  LONG m_newWidth = 0;
  LONG m_newHeight = 0;
  std::unique_ptr<kwz_codec::IDecoderBackend> m_backend;
  CCriticalSection m_decodeLock;  // held for the whole of Decode
  CKWZ_AVCodec_MutexAutoLock m_avcodecLock;
};
