// What a receiver relies on in each codec's frame bodies, checked byte by byte.
#pragma once

#include <cstdint>
#include <vector>

namespace kwz_test {

// NAL unit types of an Annex-B access unit; empty when it does not open with a start code.
std::vector<int> AnnexBNalTypes(const std::vector<uint8_t>& accessUnit);

// Adds gtest failures when a body of the stream mode is not a well-formed frame of the kind
// (key or inter) the encoder reported.
void ExpectFrameStructure(int streamMode, const std::vector<uint8_t>& body, bool keyFrame);

}  // namespace kwz_test
