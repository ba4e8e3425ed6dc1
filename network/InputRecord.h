// The remote-control input record: one UDP datagram of exactly 24 bytes, little-endian, that a
// viewer sends to the presenter's machine for each mouse or keyboard event.
//
//   0                   1                   2                   3
//   0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                      x (signed; keyboard: 0)                  |  0
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                      y (signed; keyboard: 0)                  |  4
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                 buttons (mouse button bits)                   |  8
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  | type 1 key/2  |  reserved 0   | message 0x0100/0x0102, mouse 0| 12
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |    wParam: virtual key or UTF-16 unit; mouse 0xFFFFFFFF       | 16
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |    lParam: keystroke flags; mouse 0xFFFFFFFF                  | 20
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//
// lParam keeps the Windows keystroke layout: repeat count bits 0-15, scan code 16-23, extended
// key 24, Ctrl held 25 (character records only), context 29, previous state 30, transition 31.
#pragma once

#include <cstddef>

#include "platform/wintypes.h"

constexpr std::size_t kInputRecordSize = 24;

constexpr BYTE kInputRecordKeyboard = 1;
constexpr BYTE kInputRecordMouse = 2;
constexpr BYTE kInputRecordUnset = 0xFF;  // a record not yet given its kind

// The messages a keyboard record carries (WM_KEYDOWN and WM_CHAR).
constexpr WORD kInputMessageKeyDown = 0x0100;
constexpr WORD kInputMessageCharacter = 0x0102;

// lParam bits that the sending and the replaying side read.
constexpr DWORD kKeyFlagExtended = 1u << 24;
constexpr DWORD kKeyFlagCtrl = 1u << 25;
constexpr DWORD kKeyFlagContext = 1u << 29;
constexpr DWORD kKeyFlagReleased = 1u << 31;

// Mouse button bits: each button has an up, a down and a double-click bit.
constexpr DWORD kButtonLeftUp = 0x1;
constexpr DWORD kButtonLeftDown = 0x2;
constexpr DWORD kButtonLeftDouble = 0x4;
constexpr DWORD kButtonRightUp = 0x10;
constexpr DWORD kButtonRightDown = 0x20;
constexpr DWORD kButtonRightDouble = 0x40;
constexpr DWORD kButtonMiddleUp = 0x100;
constexpr DWORD kButtonMiddleDown = 0x200;
constexpr DWORD kButtonMiddleDouble = 0x400;

struct InputRecord {
  LONG x = 0;
  LONG y = 0;
  DWORD buttons = 0;
  BYTE type = kInputRecordUnset;
  BYTE reserved = 0;
  WORD message = 0xFFFF;
  DWORD wParam = 0xFFFFFFFF;
  DWORD lParam = 0xFFFFFFFF;

  bool operator==(const InputRecord&) const = default;
};

// Writes the 24 wire bytes of record into out.
void WriteInputRecord(const InputRecord& record, BYTE (&out)[kInputRecordSize]);

enum class InputRecordError { kNone, kWrongLength, kUnknownType };

// Reads one datagram. A datagram of any other length than 24 bytes, or whose type is neither
// keyboard nor mouse, is refused and leaves *record untouched.
InputRecordError ReadInputRecord(const BYTE* data, std::size_t length, InputRecord* record);
