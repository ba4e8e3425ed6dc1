// Writes a seed corpus for every fuzz target from the product's own code: real datagrams cut by
// the presenter's packetiser, real screen messages of every stream mode (geometry, zlib and JPEG
// blocks from the block coder, frames of each video codec from the frame encoders), real coded
// frames for the decoder, and the named settings the control handles. Each seed is laid out as
// its target reads its input (see the layout comment at the top of each target).
//
// usage: fuzz_corpus <folder>   (writes <folder>/<target>/seed_*)
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "control/ScreenReceiverTypeLib.h"
#include "fuzz/CorpusSources.h"
#include "fuzz/FuzzSupport.h"

namespace {

using kwz_fuzz::PutU16;
using kwz_fuzz::PutU32;
using kwz_fuzz::PutU8;
using Bytes = std::vector<std::uint8_t>;

class SeedWriter {
 public:
  SeedWriter(const std::string& folder, const std::string& target)
      : folder_(folder + "/" + target) {
    std::filesystem::create_directories(folder_);
  }
  void Write(const Bytes& seed) {
    const std::string path = folder_ + "/seed_" + std::to_string(count_++);
    FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(seed.data(), 1, seed.size(), file) == seed.size();
    if (file != nullptr) written = std::fclose(file) == 0 && written;
    if (!written) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      std::exit(1);
    }
  }
  int Count() const { return count_; }

 private:
  std::string folder_;
  int count_ = 0;
};

void Append(Bytes* out, const Bytes& more) {
  out->insert(out->end(), more.begin(), more.end());
}

void RtpPacketSeeds(SeedWriter& w, const std::vector<kwz_fuzz::Message>& messages) {
  for (const kwz_fuzz::Message& m : messages) {
    for (const Bytes& d : kwz_fuzz::Datagrams(m.bytes, 1400, 100, 0x1000)) w.Write(d);
  }
  // A CSRC list, an extension and padding, which the presenter never sends.
  Bytes d = {0xB2, 0xF1, 0, 7, 0, 0, 0, 2, 0, 0, 0, 9};
  for (int i = 0; i < 8; ++i) PutU8(&d, i);  // two CSRC words
  Append(&d, {0xBE, 0xDE, 0, 1, 1, 2, 3, 4, 'p', 'a', 'y', 0, 0, 3});
  w.Write(d);
}

void RtpStreamSeeds(SeedWriter& w, const std::vector<kwz_fuzz::Message>& messages) {
  // Raw: real datagrams of several messages, in order and with a step of time between them.
  for (const std::uint8_t flags : {0, 2, 6}) {
    Bytes seed = {flags};
    PutU32(&seed, flags == 6 ? 0xFFFFFF00u : 1000u);
    PutU8(&seed, 9);
    std::uint16_t sequence = flags == 2 ? 65530 : 10;
    for (std::size_t i = 0; i < messages.size() && i < 6; ++i) {
      for (const Bytes& d : kwz_fuzz::Datagrams(messages[i].bytes, 1000, sequence, 2 * i)) {
        PutU16(&seed, static_cast<unsigned>(d.size()));
        PutU8(&seed, 5);
        Append(&seed, d);
        ++sequence;
      }
    }
    w.Write(seed);
  }
  // Structured: messages of every mode, delivered untouched, reordered, lossy and repeated.
  const Bytes scripts[] = {{},
                           {2, 3, 0, 0, 2, 10, 0, 0},
                           {1, 0, 0, 0, 0, 0, 1, 0},
                           {3, 2, 0, 0, 3, 30},
                           {0x80, 0, 0, 0, 2, 23, 0xFC, 0}};
  for (std::size_t s = 0; s < std::size(scripts); ++s) {
    Bytes seed = {static_cast<std::uint8_t>(s == 0 ? 1 : 3)};
    PutU32(&seed, s == 4 ? 0xFFFFFFF0u : 5000u);
    PutU16(&seed, s == 1 ? 65520 : 300);
    PutU8(&seed, 6);                 // 7 messages
    PutU8(&seed, s == 2 ? 4 : 100);  // 48 or 432 payload bytes
    for (int m = 0; m < 7; ++m) {
      PutU8(&seed, m);
      PutU16(&seed, 100 + 300 * m);
    }
    Append(&seed, scripts[s]);
    w.Write(seed);
  }
}

void ScreenMessageSeeds(SeedWriter& w, const std::vector<kwz_fuzz::Message>& messages) {
  // One seed per message, and one with the whole clip of each mode, under several settings.
  for (const kwz_fuzz::Message& m : messages) {
    Bytes seed = {static_cast<std::uint8_t>(m.mode % 8 | (m.mode & 1) << 3)};
    PutU16(&seed, static_cast<unsigned>(m.bytes.size()));
    Append(&seed, m.bytes);
    w.Write(seed);
  }
  for (int mode = 0; mode < 7; ++mode) {
    Bytes seed = {static_cast<std::uint8_t>(0x10 | (mode == 2 ? 8 : 0))};
    for (const kwz_fuzz::Message& m : messages) {
      if (m.mode != mode) continue;
      PutU16(&seed, static_cast<unsigned>(m.bytes.size()));
      Append(&seed, m.bytes);
    }
    w.Write(seed);
  }
}

void ZlibBlockSeeds(SeedWriter& w) {
  struct Geometry {
    unsigned width, height, bytesPerPixelSelector, blockWidth, blockHeight, which, kind;
  };
  // Grids that end on a whole block and grids whose last column and row are partial, 8 and
  // 32 bits (and the bit counts that copy nothing), each corner block, each kind of body.
  const Geometry geometries[] = {
      {500, 300, 0, 100, 100, 0, 2}, {512, 512, 1, 100, 100, 1, 2}, {250, 150, 1, 100, 100, 2, 1},
      {3, 3, 0, 1, 1, 0, 2},         {511, 1, 0, 256, 1, 0, 2},     {17, 33, 1, 16, 16, 4, 2},
      {320, 240, 2, 64, 64, 0, 2},   {320, 240, 3, 64, 64, 1, 2},   {99, 101, 1, 7, 5, 3, 1},
      {100, 100, 1, 100, 100, 0, 0}, {1, 512, 0, 1, 256, 2, 2},     {401, 301, 0, 100, 100, 0, 1}};
  for (const Geometry& g : geometries) {
    Bytes seed;
    PutU16(&seed, g.width - 1);
    PutU16(&seed, g.height - 1);
    PutU8(&seed, g.bytesPerPixelSelector);
    PutU8(&seed, g.blockWidth - 1);
    PutU8(&seed, g.blockHeight - 1);
    PutU8(&seed, g.which);
    if (g.which >= 3) PutU16(&seed, 5);
    PutU8(&seed, g.kind);
    const Bytes pattern = {0x10, 0x80, 0xF0, 0x33, 0x00, 0xFF, 0x7F};
    if (g.kind == 0) {
      uLongf size = compressBound(1000);
      Bytes raw(1000, 0x42), out(size);
      compress2(out.data(), &size, raw.data(), 1000, 6);
      out.resize(size);
      Append(&seed, out);
    } else {
      Append(&seed, pattern);
    }
    w.Write(seed);
  }
}

void DecoderSeeds(SeedWriter& w) {
  for (int selector = 0; selector < 5; ++selector) {
    for (const bool large : {false, true}) {
      const std::vector<Bytes> clip =
          kwz_fuzz::CodedClip(selector, large ? 320 : 64, large ? 240 : 48);
      // 32 bits flipped, 24 bits, 16 bits; then 32 bits again with the packets split at tags.
      for (const std::uint8_t layout : {0x4, 0x1, 0x2, 0x10}) {
        Bytes seed = {static_cast<std::uint8_t>(selector),
                      static_cast<std::uint8_t>(layout | (large ? 0x8 : 0))};
        for (std::size_t i = 0; i < clip.size(); ++i) {
          if (layout == 0x10) {
            if (i != 0) Append(&seed, {'K', 'W', 'Z', '!'});
          } else {
            PutU16(&seed, static_cast<unsigned>(clip[i].size()));
          }
          Append(&seed, clip[i]);
        }
        w.Write(seed);
      }
    }
  }
}

void YuvSeeds(SeedWriter& w) {
  // Every layout, odd and even sizes, padded rows, each output form.
  for (int layout = 0; layout < 15; ++layout) {
    for (int form = 0; form < 3; ++form) {
      Bytes seed = {static_cast<std::uint8_t>(layout),
                    static_cast<std::uint8_t>(form == 1 ? 16 : 6),
                    static_cast<std::uint8_t>(form == 2 ? 8 : 4),
                    static_cast<std::uint8_t>(form * 3),
                    0,
                    static_cast<std::uint8_t>(form),
                    static_cast<std::uint8_t>(form * 5),
                    0xFF,
                    static_cast<std::uint8_t>(form == 0 ? 0 : 7)};
      for (int i = 0; i < 64; ++i) PutU8(&seed, i * 4 + layout);
      w.Write(seed);
    }
  }
}

void SettingsSeeds(SeedWriter& w) {
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
      PutU8(&seed, call.op);
      for (const std::u16string* text : {&call.first, &call.second}) {
        PutU16(&seed, static_cast<unsigned>(text->size()));
        for (const char16_t unit : *text) PutU16(&seed, unit);
      }
    }
    w.Write(seed);
  }
}

void TypeLibSeeds(SeedWriter& w) {
  // The control's own library, and one cut down to its coclass and events.
  kwz_platform::TypeLibData data = ScreenReceiverTypeLibData();
  const std::vector<unsigned char> full = kwz_platform::WriteTypeLibImage(data);
  w.Write(Bytes(full.begin(), full.end()));
  data.types[0].funcs.resize(2);
  const std::vector<unsigned char> small = kwz_platform::WriteTypeLibImage(data);
  w.Write(Bytes(small.begin(), small.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<kwz_fuzz::Message> messages = kwz_fuzz::ScreenMessages();
  if (messages.empty()) return 1;
  struct Target {
    const char* name;
    void (*write)(SeedWriter&, const std::vector<kwz_fuzz::Message>&);
  };
  const Target targets[] = {
      {"rtp_packet_fuzzer", RtpPacketSeeds},
      {"rtp_stream_fuzzer", RtpStreamSeeds},
      {"screen_message_fuzzer", ScreenMessageSeeds},
      {"zlib_block_fuzzer",
       [](SeedWriter& w, const std::vector<kwz_fuzz::Message>&) { ZlibBlockSeeds(w); }},
      {"decoder_fuzzer",
       [](SeedWriter& w, const std::vector<kwz_fuzz::Message>&) { DecoderSeeds(w); }},
      {"yuv_convert_fuzzer",
       [](SeedWriter& w, const std::vector<kwz_fuzz::Message>&) { YuvSeeds(w); }},
      {"settings_fuzzer",
       [](SeedWriter& w, const std::vector<kwz_fuzz::Message>&) { SettingsSeeds(w); }},
      {"typelib_image_fuzzer",
       [](SeedWriter& w, const std::vector<kwz_fuzz::Message>&) { TypeLibSeeds(w); }}};
  for (const Target& target : targets) {
    SeedWriter writer(folder, target.name);
    target.write(writer, messages);
    std::printf("%s: %d seeds\n", target.name, writer.Count());
  }
  return 0;
}
