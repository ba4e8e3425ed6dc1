#include "network/InputRecord.h"

namespace {

void PutLe32(BYTE* out, DWORD value) {
  out[0] = static_cast<BYTE>(value);
  out[1] = static_cast<BYTE>(value >> 8);
  out[2] = static_cast<BYTE>(value >> 16);
  out[3] = static_cast<BYTE>(value >> 24);
}

DWORD GetLe32(const BYTE* in) {
  return static_cast<DWORD>(in[0]) | static_cast<DWORD>(in[1]) << 8 |
         static_cast<DWORD>(in[2]) << 16 | static_cast<DWORD>(in[3]) << 24;
}

}  // namespace

void WriteInputRecord(const InputRecord& record, BYTE (&out)[kInputRecordSize]) {
  PutLe32(out + 0, static_cast<DWORD>(record.x));
  PutLe32(out + 4, static_cast<DWORD>(record.y));
  PutLe32(out + 8, record.buttons);
  out[12] = record.type;
  out[13] = record.reserved;
  out[14] = static_cast<BYTE>(record.message);
  out[15] = static_cast<BYTE>(record.message >> 8);
  PutLe32(out + 16, record.wParam);
  PutLe32(out + 20, record.lParam);
}

InputRecordError ReadInputRecord(const BYTE* data, std::size_t length, InputRecord* record) {
  if (data == nullptr || length != kInputRecordSize) return InputRecordError::kWrongLength;
  const BYTE type = data[12];
  if (type != kInputRecordKeyboard && type != kInputRecordMouse) {
    return InputRecordError::kUnknownType;
  }
  record->x = static_cast<LONG>(GetLe32(data + 0));
  record->y = static_cast<LONG>(GetLe32(data + 4));
  record->buttons = GetLe32(data + 8);
  record->type = type;
  record->reserved = data[13];
  record->message = static_cast<WORD>(data[14] | data[15] << 8);
  record->wParam = GetLe32(data + 16);
  record->lParam = GetLe32(data + 20);
  return InputRecordError::kNone;
}
