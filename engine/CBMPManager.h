// The drawing surface: the receiver's copy of the presenter's screen as one bottom-up DIB in
// memory, rebuilt from the screen messages. Block modes (0 to 2) carry one block of a fixed
// grid per message, which reaches its place only when it decodes whole (CBlockBuffers); video
// modes (3 to 6) carry a coded frame of the whole screen, decoded straight into the bitmap.
//
// Ownership: the engine owns the surface; the surface owns the bitmap, the block buffers, its
// decoders and the block encoder. The size sink is held without ownership.
// Threads: every call comes from the engine's thread inside the engine's pass lock. The
// surface lock additionally covers PrepareBlocks and DecodeVideoFrame. Setters are called by
// the engine before its thread starts.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "codec/CVideoDecoder.h"
#include "codec/CVideoEncoder.h"
#include "engine/CBlockBuffers.h"
#include "engine/CDrawingHeader.h"
#include "engine/IScreenSharing.h"
#include "platform/gdi.h"
#include "platform/wingdi.h"
#include "runtime/CCriticalSection.h"

class CBMPManager {
 public:
  CBMPManager(std::uint32_t blockWidth, std::uint32_t blockHeight);
  virtual ~CBMPManager();
  CBMPManager(const CBMPManager&) = delete;
  CBMPManager& operator=(const CBMPManager&) = delete;

  // Brings one accepted message into the bitmap. header.biCompression carries the bytes per
  // pixel, not the stream mode (the engine sets the stream mode beforehand). Returns the
  // decoded byte count, 0 when nothing was decoded, -1 when a video frame failed.
  std::int32_t DecodeMessage(BITMAPINFOHEADER header, std::uint32_t blockIndex,
                             const std::uint8_t* body, std::uint32_t bodyLength);

  // Makes the bitmap, the block buffers and (for JPEG blocks) the block codec match the
  // header's block grid; a new geometry starts white. false when the geometry is refused or
  // the block encoder cannot be opened, with the surface left as it was.
  bool PrepareBlocks(BITMAPINFOHEADER header);

  // Decodes one frame of the current video mode into the bitmap, reconfiguring the decoder
  // when the padded size, bit count or codec changed. Returns the picture byte count, or -1
  // when no picture came out (the bitmap keeps the previous one).
  std::int32_t DecodeVideoFrame(BITMAPINFOHEADER header, const std::uint8_t* body,
                                std::uint32_t bodyLength);

  // Copies block index from source (rows block-row-bytes apart, in bitmap memory order) to
  // its place in pixels, which must be a buffer of the surface's pixel size. Copies nothing
  // for an index outside the grid or at a bit count other than 8 or 32.
  void CopyBlock(std::uint32_t index, const std::uint8_t* source, std::uint8_t* pixels);

  // Paints the bitmap into the window, 1:1 or stretched to its client area, and the cursor
  // over it. header is the last message's (unpadded size, bit count); a new padded size or bit
  // count is first reported to the size sink with the unpadded size. Paints nothing before the
  // first picture, for an empty size, or when header describes more than the bitmap holds.
  void Draw(BITMAPINFOHEADER header, HWND window, std::uint16_t cursorX, std::uint16_t cursorY);

  // Replaces the drawing header with one of width × height pixels of bytesPerPixel bytes
  // (none for a byte count other than 1, 3 or 4).
  void MakeDrawingHeader(std::int32_t width, std::int32_t height, int bytesPerPixel);
  const CDrawingHeader& DrawingHeader() const { return m_drawingHeader; }
  POINT CursorHotSpot() const { return POINT{m_hotSpotX, m_hotSpotY}; }

  void SetSizeSink(IScreenSharing* sink) { m_sizeSink = sink; }
  void SetStretch(bool stretch) { m_stretch.store(stretch, std::memory_order_relaxed); }
  void SetStreamMode(std::uint32_t mode) { m_streamMode = mode; }
  void SetEncoderBitRate(std::uint32_t kbps) { m_encoderBitRate = kbps; }
  void SetFrameRate(std::uint32_t frameRate) { m_frameRate = frameRate; }
  void SetEncoderQuality(std::uint32_t quality) { m_encoderQuality = quality; }

  // Read-only views for the engine's diagnostics and for tests.
  const BITMAPINFOHEADER& SurfaceHeader() const { return m_surfaceHeader; }
  const std::uint8_t* Pixels() const { return m_pixels; }
  std::uint32_t PixelsSize() const { return m_pixelsSize; }
  std::uint32_t Stride() const { return m_stride; }
  std::uint32_t BlockCount() const { return m_blockCount; }
  std::uint32_t BlockBytes() const { return m_blockBytes; }
  bool HasBlockDecoder() const { return m_blockDecoder != nullptr; }
  bool HasBlockEncoder() const { return m_blockEncoder != nullptr; }
  int VideoCodecId() const { return m_videoDecoder.CodecId(); }

 private:
  // (Re)creates the JPEG block decoder and the block encoder; false when the encoder cannot
  // be opened. Called with the surface lock held.
  void LoadCursorIcon();
  void MakeDisplayHeader();
  bool OpenBlockCodec(const BITMAPINFOHEADER& header);
  bool ConfigureVideoDecoder(const BITMAPINFOHEADER& header, int codecId);
  // Where block index starts in the bitmap, or nothing for an index outside the grid, a bit
  // count other than 8 or 32, or a place that would reach past the bitmap's end.
  std::optional<std::uint64_t> BlockPlace(std::uint32_t index) const;
  // Asks the cache for a place's lines, to be written, before its block is decoded.
  void WarmPlace(std::uint64_t place) const;
  // CopyBlock to a place BlockPlace gave.
  void CopyToPlace(std::uint64_t place, const std::uint8_t* source, std::uint8_t* pixels);
  std::int32_t DecodeZlibBlock(std::uint32_t index, unsigned long capacity, const BYTE* body,
                               std::uint32_t bodyLength);
  std::int32_t DecodeJpegBlock(std::uint32_t index, unsigned long capacity, const BYTE* body,
                               std::uint32_t bodyLength);
  // Block index's own buffer, with the bytes back from the bitmap when it held them.
  BYTE* OwnBlockBuffer(std::uint32_t index);
  // Before anything but a block writes the bitmap, every block buffer takes its bytes back.
  void TakeBackBlockBuffers();
  void FreePixels();
  void FreeBlocks();

  IScreenSharing* m_sizeSink = nullptr;  // not owned
  HCURSOR m_cursorIcon = nullptr;        // a shared system cursor, never destroyed
  std::int32_t m_hotSpotX = 0;
  std::int32_t m_hotSpotY = 0;
  HDC m_drawingDC = nullptr;       // the window's DC, only during Draw
  CDrawingHeader m_drawingHeader;  // how the bitmap is described to GDI
  CCriticalSection m_surfaceLock;
  std::atomic<bool> m_stretch{false};  // written without a lock by the engine's SetStretch
  std::unique_ptr<CVideoDecoder> m_blockDecoder;  // JPEG, mode 2 at 32 bits only
  std::unique_ptr<CVideoEncoder> m_blockEncoder;  // opened beside it, never encodes here
  std::uint32_t m_encoderBitRate = 250;           // kbit/s
  std::uint32_t m_frameRate = 5;
  std::uint32_t m_encoderQuality = 0;  // 0: the encoder's own
  std::uint32_t m_streamMode = 1;

  // Geometry of the bitmap: padded width and height, bit count, bytes per pixel (in
  // biCompression, as the engine passes it) and size. Guarded by m_surfaceLock.
  BITMAPINFOHEADER m_surfaceHeader{};
  std::uint8_t* m_pixels = nullptr;  // IPP allocation, bottom-up rows
  std::uint32_t m_pixelsSize = 0;
  std::uint32_t m_stride = 0;

  CBlockBuffers m_blockBuffers;
  std::uint32_t m_blockCount = 0;
  std::uint32_t m_blockWidth;
  std::uint32_t m_blockHeight;
  std::uint32_t m_blockBytes = 0;
  std::uint32_t m_blockRowBytes = 0;

  CVideoDecoder m_videoDecoder;
  std::uint32_t m_decoderInputTag = BI_RGB;
  // The video decoder is open for the surface's geometry; cleared while a reconfiguration
  // fails, so the next frame tries again instead of decoding with a stale set-up.
  bool m_videoConfigured = false;
  // H.264 writes a start code behind the packet; frames are copied here so the caller's body
  // stays untouched. IPP allocation.
  std::uint8_t* m_packetScratch = nullptr;
  std::uint32_t m_packetScratchSize = 0;
};
