// The command line of kwz-present: every option read into the settings it stands for, and every
// kind of bad argument refused with a message.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "apps/kwz-present/PresentOptions.h"

namespace kwz_present {
namespace {

ParseResult Parse(std::vector<const char*> args, PresentOptions* options, std::string* error) {
  args.insert(args.begin(), "kwz-present");
  return ParsePresentOptions(static_cast<int>(args.size()), args.data(), options, error);
}

TEST(PresentOptions, DefaultsSendTheSyntheticScreenAsZlibBlocksToTheLoopbackPort) {
  PresentOptions o;
  std::string error;
  ASSERT_EQ(Parse({}, &o, &error), ParseResult::kRun);
  EXPECT_EQ(o.sender.address, "127.0.0.1");
  EXPECT_EQ(o.sender.port, 60004);
  EXPECT_EQ(o.sender.multicastInterface, "127.0.0.1");
  EXPECT_EQ(o.sender.multicastTtl, 0);
  EXPECT_EQ(o.stream.streamMode, 1);
  EXPECT_EQ(o.stream.bytesPerPixel, 4);
  EXPECT_EQ(o.width, 1280);
  EXPECT_EQ(o.height, 720);
  EXPECT_EQ(o.source, SourceKind::kSynthetic);
  EXPECT_FALSE(o.frames.has_value());
  EXPECT_FALSE(o.seconds.has_value());
  EXPECT_EQ(o.stream.refreshFrames, o.refreshSeconds * o.stream.frameRate);
}

// One accepted command line and what it must set.
struct Accepted {
  std::vector<const char*> args;
  std::function<void(const PresentOptions&)> check;
};

class AcceptedArguments : public ::testing::TestWithParam<Accepted> {};

TEST_P(AcceptedArguments, SetWhatTheyName) {
  PresentOptions o;
  std::string error;
  ASSERT_EQ(Parse(GetParam().args, &o, &error), ParseResult::kRun) << error;
  GetParam().check(o);
}

INSTANTIATE_TEST_SUITE_P(
    Apps, AcceptedArguments,
    ::testing::Values(
        Accepted{{"--dest", "224.76.12.19:5004", "--multicast-if", "127.0.0.2", "--ttl", "3"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.sender.address, "224.76.12.19");
                   EXPECT_EQ(o.sender.port, 5004);
                   EXPECT_EQ(o.sender.multicastInterface, "127.0.0.2");
                   EXPECT_EQ(o.sender.multicastTtl, 3);
                 }},
        Accepted{{"--mode", "h264", "--bpp", "24"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.stream.streamMode, 4);
                   EXPECT_EQ(o.stream.bytesPerPixel, 3);
                 }},
        Accepted{{"--mode", "6"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.stream.streamMode, 6); }},
        Accepted{{"--mode", "geometry", "--bpp", "8"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.stream.streamMode, 0);
                   EXPECT_EQ(o.stream.bytesPerPixel, 1);
                 }},
        Accepted{{"--mode", "jpeg"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.stream.streamMode, 2); }},
        Accepted{{"--mode", "mpeg4"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.stream.streamMode, 3); }},
        Accepted{{"--mode", "vp8"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.stream.streamMode, 5); }},
        Accepted{{"--size", "1366x768", "--fps", "25", "--refresh-seconds", "2"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.width, 1366);
                   EXPECT_EQ(o.height, 768);
                   EXPECT_EQ(o.stream.frameRate, 25);
                   EXPECT_EQ(o.stream.refreshFrames, 50);
                 }},
        Accepted{{"--refresh-seconds", "0"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.stream.refreshFrames, 0); }},
        Accepted{{"--seconds", "5", "--frames", "12", "--bitrate", "800"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.seconds, 5u);
                   EXPECT_EQ(o.frames, 12u);
                   EXPECT_EQ(o.stream.bitRateKbps, 800);
                 }},
        Accepted{{"--payload-size", "65495", "--ssrc", "0xDEADBEEF"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.sender.payloadSize, 65495u);
                   EXPECT_EQ(o.sender.ssrc, 0xDEADBEEFu);
                 }},
        Accepted{{"--source", "png:a.png,dir/b.png"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.source, SourceKind::kPng);
                   EXPECT_EQ(o.pngFiles, (std::vector<std::string>{"a.png", "dir/b.png"}));
                 }},
        Accepted{{"--source", "x11::1"},
                 [](const PresentOptions& o) {
                   EXPECT_EQ(o.source, SourceKind::kX11);
                   EXPECT_EQ(o.x11Display, ":1");
                   EXPECT_FALSE(o.remotePort.has_value());
                 }},
        Accepted{{"--remote-port", "65535"},
                 [](const PresentOptions& o) { EXPECT_EQ(o.remotePort, 65535); }}));

// Bad command lines, each refused with a message naming the trouble.
struct Refused {
  std::vector<const char*> args;
  const char* mentions;
};

class RefusedArguments : public ::testing::TestWithParam<Refused> {};

TEST_P(RefusedArguments, AreReportedAndNothingRuns) {
  PresentOptions o;
  std::string error;
  EXPECT_EQ(Parse(GetParam().args, &o, &error), ParseResult::kBadArguments);
  EXPECT_NE(error.find(GetParam().mentions), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Apps, RefusedArguments,
    ::testing::Values(
        // Unknown, stray or incomplete arguments.
        Refused{{"--colour", "red"}, "--colour"}, Refused{{"loose"}, "loose"},
        Refused{{"--mode"}, "--mode"},
        // Addresses and ports.
        Refused{{"--dest", "127.0.0.1"}, "--dest"}, Refused{{"--dest", "127.0.0.1:0"}, "--dest"},
        Refused{{"--dest", "127.0.0.1:65536"}, "--dest"},
        Refused{{"--dest", "300.0.0.1:5004"}, "--dest"},
        Refused{{"--dest", "127.1:5004"}, "--dest"}, Refused{{"--dest", "host.lan:5004"}, "--dest"},
        Refused{{"--multicast-if", "eth0"}, "--multicast-if"}, Refused{{"--ttl", "256"}, "--ttl"},
        Refused{{"--ttl", "-1"}, "--ttl"},
        // Modes and pixel formats that do not go together.
        Refused{{"--mode", "7"}, "--mode"}, Refused{{"--mode", "av1"}, "--mode"},
        Refused{{"--bpp", "16"}, "--bpp"}, Refused{{"--mode", "zlib", "--bpp", "24"}, "block"},
        Refused{{"--mode", "jpeg", "--bpp", "8"}, "JPEG"},
        Refused{{"--mode", "vp9", "--bpp", "8"}, "video"},
        // Numbers out of range or not numbers at all.
        Refused{{"--size", "1280"}, "--size"}, Refused{{"--size", "63x100"}, "--size"},
        Refused{{"--size", "4097x100"}, "--size"}, Refused{{"--size", "100x100x3"}, "--size"},
        Refused{{"--fps", "0"}, "--fps"}, Refused{{"--fps", "61"}, "--fps"},
        Refused{{"--fps", "10fps"}, "--fps"}, Refused{{"--seconds", "0"}, "--seconds"},
        Refused{{"--frames", "-4"}, "--frames"}, Refused{{"--bitrate", "100001"}, "--bitrate"},
        Refused{{"--payload-size", "0"}, "--payload-size"},
        Refused{{"--payload-size", "65496"}, "--payload-size"},
        Refused{{"--ssrc", "0x100000000"}, "--ssrc"},
        Refused{{"--refresh-seconds", "-1"}, "--refresh-seconds"},
        Refused{{"--remote-port", "0"}, "--remote-port"},
        Refused{{"--remote-port", "65536"}, "--remote-port"},
        // Sources.
        Refused{{"--source", "camera"}, "--source"}, Refused{{"--source", "png:"}, "--source"},
        Refused{{"--source", "png:a.png,,b.png"}, "--source"}));

TEST(PresentOptions, HelpIsAskedForAndDocumentsEveryOption) {
  PresentOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--mode", "h264", "--help"}, &o, &error), ParseResult::kHelp);
  const std::string usage = PresentUsage();
  for (const char* option : {"--dest",
                             "--multicast-if",
                             "--ttl",
                             "--mode",
                             "--bpp",
                             "--size",
                             "--fps",
                             "--seconds",
                             "--frames",
                             "--bitrate",
                             "--payload-size",
                             "--ssrc",
                             "--source",
                             "--refresh-seconds",
                             "--remote-port",
                             "--help",
                             "geometry",
                             "zlib",
                             "jpeg",
                             "mpeg4",
                             "h264",
                             "vp8",
                             "vp9",
                             "png:",
                             "x11"}) {
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace kwz_present
