#include "fuzz/CorpusSources.h"

#include <algorithm>
#include <memory>

#include "codec/CVideoEncoder.h"
#include "platform/winerror.h"
#include "platform/wingdi.h"
#include "presenter/CBlockCoder.h"
#include "presenter/CPaddedPicture.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "presenter/ScreenStreamSettings.h"
#include "presenter/SyntheticDesktop.h"

namespace kwz_fuzz {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kStreamModes[] = {3, 4, 5, 6};
constexpr std::uint32_t kClip[] = {0, 1, 2, SyntheticDesktop::kFramesPerScene};

// The desktop is at least 64 pixels high; smaller pictures are its top rows.
Bytes Picture(int width, int height, std::uint32_t frame) {
  SyntheticDesktop desktop(width, std::max(height, 64));
  Bytes bgra = desktop.Render(frame);
  bgra.resize(static_cast<std::size_t>(width) * height * 4);
  return bgra;
}

std::vector<Bytes> FrameClip(int streamMode, int width, int height) {
  FrameEncoderSettings settings;
  settings.width = width;
  settings.height = height;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(streamMode, settings);
  std::vector<Bytes> clip;
  for (std::uint32_t frame : kClip) {
    Bytes body;
    const Bytes bgra = Picture(width, height, frame);
    if (encoder->Encode(bgra.data(), width * 4, false, &body)) clip.push_back(std::move(body));
  }
  return clip;
}

std::vector<Bytes> JpegClip(int width, int height) {
  CVideoEncoder encoder;
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = width;
  header.biHeight = height;
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;
  std::vector<Bytes> clip;
  if (encoder.SetInputFormat(&header) != S_OK) return clip;
  encoder.SetQuality(50);
  if (encoder.Open() != S_OK) return clip;
  for (std::uint32_t frame : kClip) {
    const Bytes bgra = Picture(width, height, frame);
    Bytes jpeg(65535);
    DWORD bytes = 0;
    if (encoder.Encode(bgra.data(), width * 4, jpeg.data(), static_cast<DWORD>(jpeg.size()),
                       &bytes) == S_OK) {
      jpeg.resize(bytes);
      clip.push_back(std::move(jpeg));
    }
  }
  return clip;
}

Message Make(int mode, int bytesPerPixel, int width, int height, int blockIndex,
             const Bytes& body) {
  presenter::ScreenMessageFields fields;
  fields.streamMode = static_cast<std::uint8_t>(mode);
  fields.bytesPerPixel = static_cast<std::uint8_t>(bytesPerPixel);
  fields.width = static_cast<std::uint16_t>(width);
  fields.height = static_cast<std::uint16_t>(height);
  fields.cursorX = 10;
  fields.cursorY = 20;
  fields.blockIndex = static_cast<std::uint16_t>(blockIndex);
  Message message{mode, {}};
  presenter::WriteScreenMessage(fields, body.data(), body.size(), &message.bytes);
  return message;
}

// Blocks of a 200x200 desktop (four blocks of 100x100): bottom-left and top-right.
void BlockMessages(int mode, int bytesPerPixel, std::vector<Message>* out) {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = mode;
  settings.bytesPerPixel = bytesPerPixel;
  presenter::CBlockCoder coder(settings);
  const Bytes bgra = Picture(200, 200, 3);
  presenter::CPaddedPicture picture;
  if (!picture.Fill(presenter::BgraView{bgra.data(), 200, 200, 800}, 200, 200,
                    presenter::RowOrder::kBottomUp)) {
    return;
  }
  for (const int index : {0, 3}) {
    Bytes body;
    if (coder.Code(picture, index, &body))
      out->push_back(Make(mode, bytesPerPixel, 200, 200, index, body));
  }
}

}  // namespace

std::vector<Message> ScreenMessages() {
  std::vector<Message> messages;
  messages.push_back(Make(0, 4, 1366, 768, 0, {}));
  BlockMessages(1, 1, &messages);
  BlockMessages(1, 4, &messages);
  BlockMessages(2, 4, &messages);
  for (const int mode : kStreamModes) {
    for (const Bytes& frame : FrameClip(mode, 64, 48)) {
      if (frame.size() <= presenter::kMaxBody)
        messages.push_back(Make(mode, mode == 3 ? 3 : 4, 64, 48, 0, frame));
    }
  }
  return messages;
}

std::vector<Bytes> Datagrams(const Bytes& message, std::size_t payloadSize,
                             std::uint16_t firstSequence, std::uint32_t timestamp) {
  presenter::RtpPacketizer::Options options;
  options.firstSequence = firstSequence;
  options.payloadSize = payloadSize;
  presenter::RtpPacketizer packetizer(options);
  std::vector<Bytes> out;
  packetizer.Packetize(message.data(), message.size(), timestamp,
                       [&](const std::uint8_t* d, std::size_t n) { out.emplace_back(d, d + n); });
  return out;
}

std::vector<Bytes> CodedClip(int selector, int width, int height) {
  return selector < 4 ? FrameClip(kStreamModes[selector], width, height) : JpegClip(width, height);
}

}  // namespace kwz_fuzz
