// Cuts the elementary streams that the ffmpeg tool writes into the one-frame packets the
// presenter sends: H.264 Annex-B access units and IVF frames (VP8, VP9).
#pragma once

#include <cstdint>
#include <vector>

#include "tests/codec/TestEncoders.h"

namespace kwz_test {

std::vector<CodedFrame> SplitAnnexB(const std::vector<std::uint8_t>& stream);
// vp9 selects how the key-frame bit is read from each frame header.
std::vector<CodedFrame> SplitIvf(const std::vector<std::uint8_t>& file, bool vp9);

}  // namespace kwz_test
