// libFuzzer target for the RTP header parse: the input is one datagram.
//
// An accepted datagram must account for every byte: the fixed header, the CSRC list and the
// extension (when X is set) in front, the payload, then the padding that the last byte counts
// (when P is set). The fields must be the bytes where the header diagram puts them.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "network/RtpHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  RtpPacketInfo info{};
  const bool accepted = ParseRtpHeader(data, static_cast<DWORD>(size), &info);
  if (size < kRtpFixedHeaderSize) {
    KWZ_FUZZ_CHECK(!accepted);
    return 0;
  }
  const bool versionTwo = (data[0] >> 6) == 2;
  if (!versionTwo) KWZ_FUZZ_CHECK(!accepted);
  if (!accepted) return 0;

  // The header length as the diagram defines it, worked out independently of the parser.
  std::uint64_t header = 12 + 4 * std::uint64_t{data[0] & 0x0Fu};
  if ((data[0] & 0x10) != 0) {
    KWZ_FUZZ_CHECK(header + 4 <= size);
    header += 4 + 4 * ((std::uint64_t{data[header + 2]} << 8) | data[header + 3]);
  }
  const std::uint64_t padding = (data[0] & 0x20) != 0 ? data[size - 1] : 0;
  KWZ_FUZZ_CHECK(info.payload == data + header);
  KWZ_FUZZ_CHECK(header + info.payloadLength + padding == size);

  KWZ_FUZZ_CHECK(info.payloadType == (data[1] & 0x7F));
  KWZ_FUZZ_CHECK(info.marker == (data[1] >> 7));
  KWZ_FUZZ_CHECK(info.sequence == ((data[2] << 8) | data[3]));
  KWZ_FUZZ_CHECK(info.timestamp == ((DWORD{data[4]} << 24) | (DWORD{data[5]} << 16) |
                                    (DWORD{data[6]} << 8) | data[7]));
  KWZ_FUZZ_CHECK(info.ssrc == ((DWORD{data[8]} << 24) | (DWORD{data[9]} << 16) |
                               (DWORD{data[10]} << 8) | data[11]));
  return 0;
}
