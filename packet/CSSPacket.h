// A screen message: a CPacket whose first 29 bytes are the screen header. The screen endpoint
// owns one, fills it through the receiver and checks it here, all on the engine's receiving
// thread.
#pragma once

#include <cstdint>

#include "packet/CPacket.h"
#include "packet/ScreenPacketFormat.h"
#include "platform/wingdi.h"

// The header bytes 0 to 28 as they travel (little-endian, packed); see ScreenPacketFormat.h.
#pragma pack(push, 1)
struct ScreenPacketHeader {
  WORD Magic;
  BYTE StreamMode;
  BYTE BytesPerPixel;
  WORD Reserved0;
  WORD Width;
  WORD Height;
  DWORD Reserved1;
  DWORD ImageSize;  // the sender's figure; the receiver computes its own
  WORD Reserved2;
  WORD CursorX;
  WORD CursorY;
  BYTE Reserved3;
  WORD BlockIndex;
  WORD BodyLength;
};
#pragma pack(pop)
static_assert(sizeof(ScreenPacketHeader) == screen_packet::kHeaderSize);

// Why a received message was refused; only tests and diagnostics look at the reason.
enum class ScreenPacketVerdict {
  kAccepted,
  kBadMagic,
  kBadStreamMode,
  kBadLength,      // BodyLength + 29 is not the message length
  kImageTooLarge,  // wider or taller than kMaxDimension, or above kMaxImageSize
};

class CSSPacket : public CPacket {
 public:
  explicit CSSPacket(DWORD capacity);

  // Copies the first 29 bytes of the buffer into the header and points the body after them.
  // Reads the buffer whatever the length says; a buffer too small for a header leaves the
  // header zeroed.
  void LoadHeader();
  // The acceptance rules of a received message, on the loaded header and the length.
  ScreenPacketVerdict Check() const;
  // Fills the frame description from the loaded header: bit count, width, height, the stream
  // mode in biCompression and the DIB size of the decoded image; everything else 0. Returns
  // false (with biSizeImage 0) for a geometry beyond the bounds, which Check refuses too.
  bool ParseHeader(BITMAPINFOHEADER* out, DWORD* blockIndex) const;
  // Copies the body when dst is given and *size can hold it; *size becomes the body length.
  bool CopyBody(void* dst, DWORD* size) const;
  // Readies the packet for the next message: grows the buffer to size when it is larger, and
  // clears length, timestamp, sequence number, lost flag and payload type.
  bool Reset(DWORD size);

  const ScreenPacketHeader& Header() const { return m_header; }
  const BYTE* Body() const { return m_pBody; }

  // Rows of a DIB are padded to 4 bytes. Computed in 64 bits: the factors come off the wire.
  static std::uint64_t Stride(std::uint32_t bitCount, std::uint32_t width);
  static std::uint64_t ImageSize(std::uint32_t bitCount, std::uint32_t width, std::uint32_t height);

 private:
  ScreenPacketHeader m_header;
  const BYTE* m_pBody;  // m_pData + 29 once a header was loaded
};
