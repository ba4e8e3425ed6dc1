// Writes seeds for the fuzz targets from the product's own packetiser, message writer, block
// coder, frame encoders and type library, each laid out as its target reads its input (see the
// comment at the top of each target).
//
// usage: fuzz_corpus <folder>   (writes <folder>/<target>/seed_*)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "codec/CVideoEncoder.h"
#include "control/ScreenReceiverTypeLib.h"
#include "fuzz/mutate/InputMutators.h"
#include "platform/winerror.h"
#include "platform/wingdi.h"
#include "presenter/CBlockCoder.h"
#include "presenter/CPaddedPicture.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "presenter/ScreenStreamSettings.h"
#include "presenter/SyntheticDesktop.h"

namespace {

using kwz_fuzz::Bytes;
using kwz_fuzz::FramedInput;
using Seeds = std::vector<Bytes>;

struct Message {
  int mode;     // the stream mode it carries
  Bytes bytes;  // 29-byte header and body
};

constexpr int kStreamModes[] = {3, 4, 5, 6};
// A key frame, inter frames and a scene change of the synthetic desktop.
constexpr std::uint32_t kClip[] = {0, 1, 2, SyntheticDesktop::kFramesPerScene};

// Appends value as n little-endian bytes, the way the targets' Reader reads numbers.
void Put(Bytes* out, std::uint32_t value, int n = 1) {
  for (int k = 0; k < n; ++k) out->push_back(static_cast<std::uint8_t>(value >> (8 * k)));
}
void Append(Bytes* out, const Bytes& more) {
  out->insert(out->end(), more.begin(), more.end());
}

// The desktop is at least 64 pixels high; smaller pictures are its top rows.
Bytes Picture(int width, int height, std::uint32_t frame) {
  Bytes bgra = SyntheticDesktop(width, std::max(height, 64)).Render(frame);
  bgra.resize(static_cast<std::size_t>(width) * height * 4);
  return bgra;
}

Seeds FrameClip(int streamMode, int width, int height) {
  FrameEncoderSettings settings;
  settings.width = width;
  settings.height = height;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(streamMode, settings);
  Seeds clip;
  for (std::uint32_t frame : kClip) {
    Bytes body;
    if (encoder->Encode(Picture(width, height, frame).data(), width * 4, false, &body))
      clip.push_back(std::move(body));
  }
  return clip;
}

// The clip coded for the decoder target's selector (0 MPEG-4, 1 H.264, 2 VP8, 3 VP9, 4 JPEG).
Seeds CodedClip(int selector, int width, int height) {
  if (selector < 4) return FrameClip(kStreamModes[selector], width, height);
  CVideoEncoder encoder;
  BITMAPINFOHEADER header = {.biSize = sizeof(BITMAPINFOHEADER),
                             .biWidth = width,
                             .biHeight = height,
                             .biPlanes = 1,
                             .biBitCount = 32,
                             .biCompression = BI_RGB};
  Seeds clip;
  encoder.SetQuality(50);
  if (encoder.SetInputFormat(&header) != S_OK || encoder.Open() != S_OK) return clip;
  for (std::uint32_t frame : kClip) {
    Bytes jpeg(65535);
    DWORD bytes = 0;
    if (encoder.Encode(Picture(width, height, frame).data(), width * 4, jpeg.data(),
                       static_cast<DWORD>(jpeg.size()), &bytes) == S_OK) {
      jpeg.resize(bytes);
      clip.push_back(std::move(jpeg));
    }
  }
  return clip;
}

Message Make(std::uint8_t mode, std::uint8_t bytesPerPixel, std::uint16_t width,
             std::uint16_t height, std::uint16_t blockIndex, const Bytes& body) {
  Message message{mode, {}};
  presenter::WriteScreenMessage({.streamMode = mode,
                                 .bytesPerPixel = bytesPerPixel,
                                 .width = width,
                                 .height = height,
                                 .cursorX = 10,
                                 .cursorY = 20,
                                 .blockIndex = blockIndex},
                                body.data(), body.size(), &message.bytes);
  return message;
}

// A geometry message of a 1366x768 screen; the bottom-left and top-right blocks of a 200x200
// desktop (four blocks of 100x100) as zlib blocks at 8 and 32 bits and JPEG blocks; and a 64x48
// clip of each video mode.
std::vector<Message> ScreenMessages() {
  std::vector<Message> messages{Make(0, 4, 1366, 768, 0, {})};
  const Bytes bgra = Picture(200, 200, 3);
  presenter::CPaddedPicture picture;
  if (!picture.Fill(presenter::BgraView{bgra.data(), 200, 200, 800}, 200, 200,
                    presenter::RowOrder::kBottomUp)) {
    return {};
  }
  for (const auto& [mode, bytesPerPixel] : {std::pair{1, 1}, {1, 4}, {2, 4}}) {
    presenter::CBlockCoder coder({.streamMode = mode, .bytesPerPixel = bytesPerPixel});
    for (const int index : {0, 3}) {
      Bytes body;
      if (coder.Code(picture, index, &body))
        messages.push_back(Make(mode, bytesPerPixel, 200, 200, index, body));
    }
  }
  for (const int mode : kStreamModes) {
    for (const Bytes& frame : FrameClip(mode, 64, 48)) {
      if (frame.size() <= presenter::kMaxBody)
        messages.push_back(Make(mode, mode == 3 ? 3 : 4, 64, 48, 0, frame));
    }
  }
  return messages;
}

Seeds Datagrams(const Bytes& message, std::size_t payloadSize, std::uint16_t firstSequence,
                std::uint32_t timestamp) {
  presenter::RtpPacketizer::Options options;
  options.firstSequence = firstSequence;
  options.payloadSize = payloadSize;
  Seeds out;
  presenter::RtpPacketizer(options).Packetize(
      message.data(), message.size(), timestamp,
      [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
  return out;
}

void RtpPacketSeeds(const std::vector<Message>& messages, Seeds* out) {
  for (const Message& m : messages) {
    for (Bytes& d : Datagrams(m.bytes, 1400, 100, 0x1000)) out->push_back(std::move(d));
  }
  // What the presenter never sends: two CSRCs, an extension, 3 bytes of padding.
  out->push_back({0xB2, 0xF1, 0, 7,    0,    0, 0, 2, 0, 0, 0, 9,   0,   1,   2, 3, 4,
                  5,    6,    7, 0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 'p', 'a', 'y', 0, 0, 3});
}

void RtpStreamSeeds(const std::vector<Message>& messages, Seeds* out) {
  // Raw: real datagrams of several messages, in order and with a step of time between them.
  for (const std::uint8_t flags : {0, 2, 6}) {
    FramedInput seed{{flags}, {}};
    Put(&seed.prefix, flags == 6 ? 0xFFFFFF00u : 1000u, 4);
    Put(&seed.prefix, 9);
    std::uint16_t sequence = flags == 2 ? 65530 : 10;
    for (std::size_t i = 0; i < messages.size() && i < 6; ++i) {
      Seeds datagrams = Datagrams(messages[i].bytes, 1000, sequence, 2 * i);
      sequence = static_cast<std::uint16_t>(sequence + datagrams.size());
      for (Bytes& d : datagrams) seed.records.push_back({{5}, std::move(d)});
    }
    out->push_back(seed.Serialize(SIZE_MAX));
  }
  // Structured: messages of every mode, delivered untouched, reordered, lossy and repeated.
  const Bytes scripts[] = {{},
                           {2, 3, 0, 0, 2, 10, 0, 0},
                           {1, 0, 0, 0, 0, 0, 1, 0},
                           {3, 2, 0, 0, 3, 30},
                           {0x80, 0, 0, 0, 2, 23, 0xFC, 0}};
  for (std::size_t s = 0; s < std::size(scripts); ++s) {
    Bytes seed = {static_cast<std::uint8_t>(s == 0 ? 1 : 3)};
    Put(&seed, s == 4 ? 0xFFFFFFF0u : 5000u, 4);
    Put(&seed, s == 1 ? 65520 : 300, 2);
    Put(&seed, 6);                 // 7 messages
    Put(&seed, s == 2 ? 4 : 100);  // 48 or 432 payload bytes
    for (int m = 0; m < 7; ++m) {
      Put(&seed, m);
      Put(&seed, 100 + 300 * m, 2);
    }
    Append(&seed, scripts[s]);
    out->push_back(seed);
  }
}

void ScreenMessageSeeds(const std::vector<Message>& messages, Seeds* out) {
  // One seed per message, and one with the whole clip of each mode, under several settings.
  for (const Message& m : messages) {
    const std::uint8_t config = static_cast<std::uint8_t>(m.mode % 8 | (m.mode & 1) << 3);
    out->push_back(FramedInput{{config}, {{{}, m.bytes}}}.Serialize(SIZE_MAX));
  }
  for (int mode = 0; mode < 7; ++mode) {
    FramedInput seed{{static_cast<std::uint8_t>(0x10 | (mode == 2 ? 8 : 0))}, {}};
    for (const Message& m : messages) {
      if (m.mode == mode) seed.records.push_back({{}, m.bytes});
    }
    out->push_back(seed.Serialize(SIZE_MAX));
  }
}

void ZlibBlockSeeds(const std::vector<Message>&, Seeds* out) {
  // Grids that end on a whole block and grids whose last column and row are partial, 8 and 32 bits
  // (and the bit counts that copy nothing), each corner block, each kind of body: width, height,
  // bytes per pixel selector, block width, block height, which, body kind.
  const unsigned geometries[][7] = {
      {500, 300, 0, 100, 100, 0, 2}, {512, 512, 1, 100, 100, 1, 2}, {250, 150, 1, 100, 100, 2, 1},
      {3, 3, 0, 1, 1, 0, 2},         {511, 1, 0, 256, 1, 0, 2},     {17, 33, 1, 16, 16, 4, 2},
      {320, 240, 2, 64, 64, 0, 2},   {320, 240, 3, 64, 64, 1, 2},   {99, 101, 1, 7, 5, 3, 1},
      {100, 100, 1, 100, 100, 0, 0}, {1, 512, 0, 1, 256, 2, 2},     {401, 301, 0, 100, 100, 0, 1}};
  for (const auto& g : geometries) {
    Bytes seed;
    Put(&seed, g[0] - 1, 2);
    Put(&seed, g[1] - 1, 2);
    for (const unsigned field : {g[2], g[3] - 1, g[4] - 1, g[5]}) Put(&seed, field);
    if (g[5] >= 3) Put(&seed, 5, 2);
    Put(&seed, g[6]);
    Append(&seed, g[6] == 0 ? kwz_fuzz::Deflate(Bytes(1000, 0x42), 6)
                            : Bytes{0x10, 0x80, 0xF0, 0x33, 0x00, 0xFF, 0x7F});
    out->push_back(seed);
  }
}

void DecoderSeeds(const std::vector<Message>&, Seeds* out) {
  for (int selector = 0; selector < 5; ++selector) {
    for (const bool large : {false, true}) {
      const Seeds clip = CodedClip(selector, large ? 320 : 64, large ? 240 : 48);
      // 32 bits flipped, 24 bits, 16 bits; then 32 bits again with the packets split at tags.
      for (const std::uint8_t layout : {0x4, 0x1, 0x2, 0x10}) {
        Bytes seed = {static_cast<std::uint8_t>(selector),
                      static_cast<std::uint8_t>(layout | (large ? 0x8 : 0))};
        for (std::size_t i = 0; i < clip.size(); ++i) {
          if (layout != 0x10) Put(&seed, static_cast<std::uint32_t>(clip[i].size()), 2);
          if (layout == 0x10 && i != 0) Append(&seed, {'K', 'W', 'Z', '!'});
          Append(&seed, clip[i]);
        }
        out->push_back(seed);
      }
    }
  }
}

void YuvSeeds(const std::vector<Message>&, Seeds* out) {
  // Every layout, odd and even sizes, padded rows, each output form.
  for (int layout = 0; layout < 15; ++layout) {
    for (int form = 0; form < 3; ++form) {
      Bytes seed;
      for (const int field : {layout, form == 1 ? 16 : 6, form == 2 ? 8 : 4, form * 3, 0, form,
                              form * 5, 0xFF, form == 0 ? 0 : 7}) {
        Put(&seed, static_cast<std::uint32_t>(field));
      }
      for (int i = 0; i < 64; ++i) Put(&seed, static_cast<std::uint32_t>(i * 4 + layout));
      out->push_back(seed);
    }
  }
}

void SettingsSeeds(const std::vector<Message>&, Seeds* out) {
  struct Call {
    std::uint8_t op;
    std::u16string first, second;
  };
  const std::vector<std::vector<Call>> scripts = {
      {{0, u"enable_tunnel", u"1"}, {1, u"enable_tunnel", u""}},
      {{0, u"enable_pck_reordering", u"1 20"}, {1, u"enable_pck_reordering extra", u""}},
      {{1, u"video_pck_lost", u""}, {1, u"pck_lost", u""}, {1, u"audio_pck_lost", u""}},
      {{0, u"draw_logo", u"1"}, {0, u"enable_pck_reordering", u"x"}, {1, u"", u""}},
      {{3, u"60010", u""},
       {9, u"  99999999999 tail", u""},
       {4, u"127.0.0.1", u""},
       {10, u"10.0.0.\u00e9", u""}},
      {{2, u"\x01", u"0 0"}, {5, u" 1", u""}, {2, u"\x00", u"-5"}}};
  for (const std::vector<Call>& script : scripts) {
    Bytes seed;
    for (const Call& call : script) {
      Put(&seed, call.op);
      for (const std::u16string* text : {&call.first, &call.second}) {
        Put(&seed, static_cast<std::uint32_t>(text->size()), 2);
        for (const char16_t unit : *text) Put(&seed, unit, 2);
      }
    }
    out->push_back(seed);
  }
}

void TypeLibSeeds(const std::vector<Message>&, Seeds* out) {
  // The control's own library, and one cut down to its coclass and events.
  kwz_platform::TypeLibData data = ScreenReceiverTypeLibData();
  for (const std::size_t functions : {data.types[0].funcs.size(), std::size_t{2}}) {
    data.types[0].funcs.resize(functions);
    const std::vector<unsigned char> image = kwz_platform::WriteTypeLibImage(data);
    out->emplace_back(image.begin(), image.end());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::vector<Message> messages = ScreenMessages();
  if (messages.empty()) return 1;
  const std::pair<const char*, void (*)(const std::vector<Message>&, Seeds*)> targets[] = {
      {"rtp_packet_fuzzer", RtpPacketSeeds},
      {"rtp_stream_fuzzer", RtpStreamSeeds},
      {"screen_message_fuzzer", ScreenMessageSeeds},
      {"zlib_block_fuzzer", ZlibBlockSeeds},
      {"decoder_fuzzer", DecoderSeeds},
      {"yuv_convert_fuzzer", YuvSeeds},
      {"settings_fuzzer", SettingsSeeds},
      {"typelib_image_fuzzer", TypeLibSeeds}};
  for (const auto& [name, make] : targets) {
    Seeds seeds;
    make(messages, &seeds);
    const std::filesystem::path folder = std::filesystem::path(argv[1]) / name;
    std::filesystem::create_directories(folder);
    for (std::size_t i = 0; i < seeds.size(); ++i) {
      std::ofstream file(folder / ("seed_" + std::to_string(i)), std::ios::binary);
      if (!file.write(reinterpret_cast<const char*>(seeds[i].data()),
                      static_cast<std::streamsize>(seeds[i].size()))
               .flush()) {
        std::fprintf(stderr, "cannot write %s/seed_%zu\n", folder.c_str(), i);
        return 1;
      }
    }
    std::printf("%s: %zu seeds\n", name, seeds.size());
  }
  return 0;
}
