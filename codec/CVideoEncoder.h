// The block encoder: codes 32-bit BGRA blocks as Motion JPEG pictures (identifier 9) for the
// presenter's stream mode 2. The receiving engine only constructs, configures, opens and
// closes it; the presenter also calls Encode. No exception leaves it.
//
// Threads: every call comes from the one thread that owns the encoder. Every FFmpeg context
// open and release holds the avcodec mutex.
#pragma once

#include "codec/CodecIds.h"
#include "codec/FfmpegHandles.h"
#include "platform/wingdi.h"
#include "platform/wintypes.h"
#include "runtime/CKWZ_AVCodec_MutexAutoLock.h"

class CVideoEncoder {
 public:
  CVideoEncoder();
  ~CVideoEncoder();
  CVideoEncoder(const CVideoEncoder&) = delete;
  CVideoEncoder& operator=(const CVideoEncoder&) = delete;

  // Takes the block size. Only 32-bit uncompressed RGB is accepted (stored as RGB3); anything
  // else returns E_FAIL and changes nothing.
  HRESULT SetInputFormat(const BITMAPINFOHEADER* format);
  // 1 (smallest) to 100 (finest) set the JPEG quantiser; other values change nothing.
  void SetQuality(int quality);
  void SetBitRate(int kbps) { m_bitRate = kbps; }
  void SetFrameRate(int frameRate) { m_frameRate = frameRate; }
  void SetCodecId(int codecId) { m_codecId = codecId; }

  // 0 at once when opened; E_FAIL for a missing or oversized block size, an identifier other
  // than 9, or a library failure.
  HRESULT Open();
  // Releases the FFmpeg context and frame; harmless when closed. Returns 0.
  HRESULT Close();

  // Codes one block of width × height BGRA pixels, top row first, rows stride bytes apart, as
  // one JPEG picture into destination. 0: *bytes holds its size; 1: the encoder failed or the
  // picture needs more than capacity bytes; E_FAIL: not opened or a null pointer.
  HRESULT Encode(const BYTE* bgra, int stride, BYTE* destination, DWORD capacity, DWORD* bytes);

  bool IsOpened() const { return m_opened; }
  int JpegQuality() const { return m_jpegQuality; }
  DWORD InputFormat() const { return m_inputFormat; }

 private:
  LONG m_width = 0;
  LONG m_height = 0;
  DWORD m_inputFormat = 0;
  int m_bitRate = 350;  // kbit/s
  int m_frameRate = 0;
  int m_codecId = kwz_codec::kCodecMjpeg;
  bool m_opened = false;
  int m_jpegQuality = 0;  // FFmpeg lambda; 0 = not set
  long long m_pts = 0;
  kwz_codec::AvCodecContextPtr m_context;
  kwz_codec::AvFramePtr m_frame;
  kwz_codec::AvPacketPtr m_packet;
  CKWZ_AVCodec_MutexAutoLock m_avcodecLock;
};
