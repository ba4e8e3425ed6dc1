#include "web/BrowserHub.h"

#include <algorithm>
#include <string>

#include "web/BrowserRemoteControl.h"
#include "web/BrowserSession.h"

namespace kwz_web {

bool NeedsDecodedFrames(std::uint8_t caps, int streamMode) {
  switch (streamMode) {
    case 3:
      return true;  // no browser decodes MPEG-4 Part 2
    case 4:
      return (caps & kCodecH264) == 0;
    case 5:
      return (caps & kCodecVp8) == 0;
    case 6:
      return (caps & kCodecVp9) == 0;
    default:
      return false;
  }
}

BrowserHub::BrowserHub(Callbacks callbacks) : m_callbacks(std::move(callbacks)) {}

BrowserHub::~BrowserHub() {
  // Sessions refer back to the hub; none may outlive it with a pending handler.
  for (const auto& session : std::vector(m_sessions)) session->Close();
}

void BrowserHub::OnFrame(const BrowserFramePtr& frame, bool decoded) {
  if (decoded) {
    m_decoded.Add(frame);
  } else {
    if (frame->fields.streamMode != m_rawMode) m_decoded.Clear();
    m_rawMode = frame->fields.streamMode;
    if (m_callbacks.remote)
      m_callbacks.remote->SetScreenSize(frame->fields.width, frame->fields.height);
    m_raw.Add(frame);
  }
  for (const auto& session : m_sessions) {
    if (!session->HasCaps()) continue;
    if (NeedsDecodedFrames(session->Caps(), m_rawMode) == decoded) session->Send(frame);
  }
}

std::vector<BrowserFramePtr> BrowserHub::SnapshotFor(const BrowserSession& session) const {
  return NeedsDecodedFrames(session.Caps(), m_rawMode) ? m_decoded.Snapshot() : m_raw.Snapshot();
}

void BrowserHub::Join(const std::shared_ptr<BrowserSession>& session) {
  m_sessions.push_back(session);
  SendStatus();
}

void BrowserHub::Leave(BrowserSession* session) {
  if (m_controller == session) m_controller = nullptr;
  std::erase_if(m_sessions, [session](const auto& s) { return s.get() == session; });
  UpdateDecodedModes();
  SendStatus();
}

void BrowserHub::OnCaps(BrowserSession* session, std::uint8_t caps) {
  const bool first = !session->HasCaps();
  session->SetCaps(caps);
  UpdateDecodedModes();
  if (first) Resync(session);
}

void BrowserHub::Resync(BrowserSession* session) {
  for (const BrowserFramePtr& frame : SnapshotFor(*session)) session->Send(frame, true);
}

void BrowserHub::UpdateDecodedModes() {
  std::uint32_t modes = 0;
  for (const auto& session : m_sessions) {
    if (!session->HasCaps()) continue;
    for (int mode = 3; mode <= 6; ++mode) {
      if (NeedsDecodedFrames(session->Caps(), mode)) modes |= 1u << mode;
    }
  }
  if (modes == m_decodedModes) return;
  m_decodedModes = modes;
  if (m_callbacks.setDecodedModes) m_callbacks.setDecodedModes(modes);
}

void BrowserHub::OnControl(BrowserSession* session, bool take) {
  if (!RemoteControlEnabled()) return;
  if (take && m_controller == nullptr) {
    m_controller = session;
    m_callbacks.remote->Start();
  } else if (!take && m_controller == session) {
    m_controller = nullptr;
  }
  SendStatus();
}

void BrowserHub::OnPointer(BrowserSession* session, const BrowserPointer& pointer) {
  if (session == m_controller && m_callbacks.remote) m_callbacks.remote->OnPointer(pointer);
}

void BrowserHub::OnKey(BrowserSession* session, const BrowserKey& key) {
  if (session == m_controller && m_callbacks.remote) m_callbacks.remote->OnKey(key);
}

const char* BrowserHub::ControlStateFor(const BrowserSession* session) const {
  if (!RemoteControlEnabled()) return "off";
  if (m_controller == nullptr) return "free";
  return m_controller == session ? "you" : "other";
}

std::size_t BrowserHub::QueuedBytes() const {
  std::size_t bytes = 0;
  for (const auto& session : m_sessions) bytes += session->QueuedBytes();
  return bytes;
}

void BrowserHub::SendStatus() {
  const HubCounters counters = m_callbacks.counters ? m_callbacks.counters() : HubCounters{};
  const std::string common = "{\"type\":\"status\",\"source\":" + std::to_string(m_rawMode) +
                             ",\"lost\":" + std::to_string(counters.lost) +
                             ",\"received\":" + std::to_string(counters.received) +
                             ",\"browsers\":" + std::to_string(m_sessions.size()) +
                             ",\"control\":\"";
  for (const auto& session : m_sessions) {
    session->Send(MakeTextFrame(common + ControlStateFor(session.get()) + "\"}"));
  }
}

}  // namespace kwz_web
