// The real inputs from which fuzz_corpus builds its seeds: screen messages of every stream
// mode made by the presenter's coders, their datagrams, and coded clips for the decoder.
// Used by the corpus writer only, on its single thread.
#pragma once

#include <cstdint>
#include <vector>

namespace kwz_fuzz {

struct Message {
  int mode;                         // the stream mode it carries
  std::vector<std::uint8_t> bytes;  // 29-byte header and body
};

// A geometry message, zlib blocks at 8 and 32 bits, JPEG blocks, and a short clip of frames
// for each video mode, all of the synthetic desktop.
std::vector<Message> ScreenMessages();

// The datagrams the presenter's packetiser cuts message into.
std::vector<std::vector<std::uint8_t>> Datagrams(const std::vector<std::uint8_t>& message,
                                                 std::size_t payloadSize,
                                                 std::uint16_t firstSequence,
                                                 std::uint32_t timestamp);

// A key frame, inter frames and a scene change of the synthetic desktop, coded for the
// decoder target's selector (0 MPEG-4, 1 H.264, 2 VP8, 3 VP9, 4 JPEG).
std::vector<std::vector<std::uint8_t>> CodedClip(int selector, int width, int height);

}  // namespace kwz_fuzz
