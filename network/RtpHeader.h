// The RTP data packet as the screen stream carries it (fixed header, big-endian):
//
//   0                   1                   2                   3
//   0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |V=2|P|X|  CC   |M|     PT      |       sequence number         |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                           timestamp                           |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                             SSRC                              |
//  +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//  |              CSRC list: CC words, skipped                     |
//  +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//  |   profile data (X set)        |   L: words that follow        |
//  |              extension: L words, skipped                      |
//  +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
//  |                          payload ...                          |
//  |                               | padding (P set) ...   | count |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// Timestamp bit 0 clear marks the first datagram of a screen message; M marks its last.
#pragma once

#include "platform/wintypes.h"

constexpr DWORD kRtpFixedHeaderSize = 12;
constexpr BYTE kRtpVersion = 2;

// One parsed datagram. The payload points into the buffer that was parsed and is valid as long
// as that buffer is.
struct RtpPacketInfo {
  DWORD ssrc;
  DWORD timestamp;
  WORD sequence;
  DWORD extendedSequence;  // filled by the endpoint that follows the source, not by the parse
  BYTE payloadType;
  BYTE marker;  // 0 or 1
  const BYTE* payload;
  DWORD payloadLength;
};

// Parses the length bytes at data. False for a malformed datagram: shorter than the fixed
// header, another version, or a CSRC list, extension or padding that does not fit.
bool ParseRtpHeader(const BYTE* data, DWORD length, RtpPacketInfo* info);
