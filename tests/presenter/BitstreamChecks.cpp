#include "tests/presenter/BitstreamChecks.h"

#include <gtest/gtest.h>
#include <vpx/vp8dx.h>
#include <vpx/vpx_decoder.h>

#include <algorithm>

#include "presenter/CVpxFrameEncoder.h"

namespace kwz_test {

std::vector<int> AnnexBNalTypes(const std::vector<uint8_t>& au) {
  std::vector<int> types;
  if (au.size() < 5 || au[0] != 0 || au[1] != 0 || au[2] != 0 || au[3] != 1) return types;
  for (size_t i = 0; i + 3 < au.size(); ++i)
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) types.push_back(au[i + 3] & 0x1F);
  return types;
}

namespace {

// Offset of the first 00 00 01 xx start code, or -1.
long FindStartCode(const std::vector<uint8_t>& data, uint8_t code) {
  for (size_t i = 0; i + 3 < data.size(); ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1 && data[i + 3] == code)
      return static_cast<long>(i);
  return -1;
}

}  // namespace

void ExpectFrameStructure(int mode, const std::vector<uint8_t>& body, bool keyFrame) {
  auto has = [](const std::vector<int>& v, int x) {
    return std::find(v.begin(), v.end(), x) != v.end();
  };
  if (mode == 4) {
    const std::vector<int> nals = AnnexBNalTypes(body);
    ASSERT_FALSE(nals.empty()) << "no leading 4-byte start code";
    if (keyFrame) {
      EXPECT_EQ(nals.front(), 7);  // SPS first, then PPS, then the IDR slice
      EXPECT_TRUE(has(nals, 8));
      EXPECT_TRUE(has(nals, 5));
    } else {
      EXPECT_TRUE(has(nals, 1));
      EXPECT_FALSE(has(nals, 5));
    }
  } else if (mode == 5 || mode == 6) {
    ASSERT_GT(body.size(), 4u);
    EXPECT_EQ(body[0] | body[1] << 8 | body[2] << 16 | static_cast<uint32_t>(body[3]) << 24,
              keyFrame ? kVpxKeyFrameMarker : kVpxInterFrameMarker);
    // The coded frame's own key-frame flag must agree with the marker: bit 0 of a VP8 frame
    // tag is 0 on key frames; for VP9 libvpx reads the uncompressed header.
    if (mode == 5) {
      EXPECT_EQ((body[4] & 1) == 0, keyFrame);
    } else {
      vpx_codec_stream_info_t info{};
      info.sz = sizeof(info);
      ASSERT_EQ(vpx_codec_peek_stream_info(vpx_codec_vp9_dx(), body.data() + 4,
                                           static_cast<unsigned>(body.size() - 4), &info),
                VPX_CODEC_OK);
      EXPECT_EQ(info.is_kf != 0, keyFrame);
    }
  } else if (mode == 3) {
    const long vol = FindStartCode(body, 0x20);
    const long vop = FindStartCode(body, 0xB6);
    ASSERT_GE(vop, 0) << "no VOP start code";
    ASSERT_LT(static_cast<size_t>(vop) + 4, body.size());
    const int codingType = body[static_cast<size_t>(vop) + 4] >> 6;  // 0 = I, 1 = P
    if (keyFrame) {
      EXPECT_GE(vol, 0) << "key frame without VOL header";
      EXPECT_LT(vol, vop);
      EXPECT_EQ(codingType, 0);
    } else {
      EXPECT_EQ(vol, -1);
      EXPECT_EQ(codingType, 1);
    }
  }
}

}  // namespace kwz_test
