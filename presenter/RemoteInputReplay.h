// Turns the remote-control records that a viewer sends into the input events that replay them
// on this machine's desktop.
//
// A viewer sends the state of its mouse (button bits that persist from record to record) and
// one record per key press, plus the release of the extended keys only. So the replay presses a
// button when its bits change to pressed and releases it when they change to released, types a
// character record as one key stroke, holds an extended key from its press to its release, and
// taps every other key (press and release together), since its release never comes. A record
// with the context bit (Alt held at the viewer) is typed with Alt held around it, except a
// character that came with Ctrl and Alt both, which is what AltGr gave and is typed alone.
//
// Ownership and threads: one object per listening socket, used by its thread only.
#pragma once

#include <vector>

#include "network/InputRecord.h"
#include "platform/sendinput.h"

namespace presenter {

class RemoteInputReplay {
 public:
  // screenWidth and screenHeight: the primary display's size in pixels, which a mouse record's
  // position is in.
  RemoteInputReplay(int screenWidth, int screenHeight);

  // The events that replay record, in order.
  std::vector<INPUT> Translate(const InputRecord& record);

 private:
  void TranslateMouse(const InputRecord& record, std::vector<INPUT>* out);
  void TranslateKey(const InputRecord& record, std::vector<INPUT>* out);

  int m_screenWidth;
  int m_screenHeight;
  bool m_leftDown = false;
  bool m_rightDown = false;
  bool m_middleDown = false;
};

}  // namespace presenter
