// The command line of kwz-present: options read into the settings they stand for, and every kind
// of bad argument refused with a message.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "apps/kwz-present/PresentOptions.h"

namespace kwz_present {
namespace {

ParseResult Parse(std::vector<const char*> args, PresentOptions* options, std::string* error) {
  args.insert(args.begin(), "kwz-present");
  return ParsePresentOptions(static_cast<int>(args.size()), args.data(), options, error);
}

PresentOptions Accepted(const std::vector<const char*>& args) {
  PresentOptions o;
  std::string error;
  EXPECT_EQ(Parse(args, &o, &error), ParseResult::kRun) << error;
  return o;
}

TEST(PresentOptions, DefaultsStayOnLoopbackWithMulticastGoingNowhere) {
  const PresentOptions o = Accepted({});
  EXPECT_EQ(o.sender.address, "127.0.0.1");
  EXPECT_EQ(o.sender.multicastInterface, "127.0.0.1");
  EXPECT_EQ(o.sender.multicastTtl, 0);
  EXPECT_EQ(o.stream.refreshFrames, o.refreshSeconds * o.stream.frameRate);
}

TEST(PresentOptions, ArgumentsSetWhatTheyName) {
  PresentOptions o = Accepted({"--dest",
                               "224.76.12.19:5004",
                               "--multicast-if",
                               "127.0.0.2",
                               "--ttl",
                               "3",
                               "--size",
                               "1366x768",
                               "--fps",
                               "25",
                               "--refresh-seconds",
                               "2",
                               "--seconds",
                               "5",
                               "--frames",
                               "12",
                               "--bitrate",
                               "800",
                               "--payload-size",
                               "65495",
                               "--ssrc",
                               "0xDEADBEEF",
                               "--remote-port",
                               "65535",
                               "--source",
                               "png:a.png,dir/b.png"});
  EXPECT_EQ(o.sender.address, "224.76.12.19");
  EXPECT_EQ(o.sender.port, 5004);
  EXPECT_EQ(o.sender.multicastInterface, "127.0.0.2");
  EXPECT_EQ(o.sender.multicastTtl, 3);
  EXPECT_EQ(o.width, 1366);
  EXPECT_EQ(o.height, 768);
  EXPECT_EQ(o.stream.frameRate, 25);
  EXPECT_EQ(o.stream.refreshFrames, 50);
  EXPECT_EQ(o.seconds, 5u);
  EXPECT_EQ(o.frames, 12u);
  EXPECT_EQ(o.stream.bitRateKbps, 800);
  EXPECT_EQ(o.sender.payloadSize, 65495u);
  EXPECT_EQ(o.sender.ssrc, 0xDEADBEEFu);
  EXPECT_EQ(o.remotePort, 65535);
  EXPECT_EQ(o.source, SourceKind::kPng);
  EXPECT_EQ(o.pngFiles, (std::vector<std::string>{"a.png", "dir/b.png"}));

  o = Accepted({"--source", "x11::1", "--refresh-seconds", "0"});
  EXPECT_EQ(o.source, SourceKind::kX11);
  EXPECT_EQ(o.x11Display, ":1");
  EXPECT_EQ(o.stream.refreshFrames, 0);
  EXPECT_FALSE(o.remotePort.has_value());

  // Each mode by its name and its number, with a pixel format that suits it.
  const char* names[] = {"geometry", "zlib", "jpeg", "mpeg4", "h264", "vp8", "vp9"};
  for (int mode = 0; mode < 7; ++mode) {
    const std::string number = std::to_string(mode);
    const char* bpp = mode == 0 || mode == 1 ? "8" : "24";
    for (const char* given : {names[mode], number.c_str()}) {
      o = Accepted({"--mode", given, "--bpp", mode == 2 ? "32" : bpp});
      EXPECT_EQ(o.stream.streamMode, mode) << given;
      EXPECT_EQ(o.stream.bytesPerPixel, mode == 2 ? 4 : bpp[0] == '8' ? 1 : 3) << given;
    }
  }
}

// Bad command lines, each refused with a message naming the option, or after "=" what it says.
TEST(PresentOptions, BadArgumentsAreReportedAndNothingRuns) {
  std::istringstream refused(
      "--colour red; loose; --mode; --dest 127.0.0.1; --dest 127.0.0.1:0; --dest "
      "127.0.0.1:65536; --dest 300.0.0.1:5004; --dest 127.1:5004; --dest host.lan:5004; "
      "--multicast-if eth0; --ttl 256; --ttl -1; --mode 7; --mode av1; --bpp 16; --size 1280; "
      "--size 63x100; --size 4097x100; --size 100x100x3; --fps 0; --fps 61; --fps 10fps; "
      "--seconds 0; --frames -4; --bitrate 100001; --payload-size 0; --payload-size 65496; "
      "--ssrc 0x100000000; --refresh-seconds -1; --remote-port 0; --remote-port 65536; --source "
      "camera; --source png:; --source png:a.png,,b.png; --mode zlib --bpp 24 =block; --mode "
      "jpeg --bpp 8 =JPEG; --mode vp9 --bpp 8 =video");
  for (std::string line; std::getline(refused, line, ';');) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    const std::string mentions = args.back()[0] == '=' ? args.back().substr(1) : args[0];
    if (args.back()[0] == '=') args.pop_back();
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    PresentOptions o;
    std::string error;
    EXPECT_EQ(Parse(argv, &o, &error), ParseResult::kBadArguments) << line;
    EXPECT_NE(error.find(mentions), std::string::npos) << error;
  }
  PresentOptions o;
  std::string error;
  EXPECT_EQ(Parse({"--mode", "h264", "--help"}, &o, &error), ParseResult::kHelp);
}

}  // namespace
}  // namespace kwz_present
