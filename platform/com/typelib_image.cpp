// The type library image: writing it, and reading it back from bytes nobody vouches for.
#include "platform/typelib_image.h"

#include <cstring>

#include "com/typelib_rules.h"

namespace kwz_platform {
namespace {

constexpr char kMagic[8] = {'K', 'W', 'Z', 'T', 'L', 'B', '0', '1'};

class Writer {
 public:
  Writer() {
    for (char c : kMagic) bytes_.push_back(static_cast<unsigned char>(c));
  }
  void U16(unsigned value) {
    bytes_.push_back(static_cast<unsigned char>(value));
    bytes_.push_back(static_cast<unsigned char>(value >> 8));
  }
  void U32(unsigned long value) {
    U16(static_cast<unsigned>(value & 0xFFFF));
    U16(static_cast<unsigned>(value >> 16));
  }
  void Guid(const GUID& guid) {
    U32(guid.Data1);
    U16(guid.Data2);
    U16(guid.Data3);
    bytes_.insert(bytes_.end(), guid.Data4, guid.Data4 + 8);
  }
  void Text(const std::u16string& text) {
    U16(static_cast<unsigned>(text.size()));
    for (char16_t unit : text) U16(unit);
  }
  std::vector<unsigned char> Take() { return std::move(bytes_); }

 private:
  std::vector<unsigned char> bytes_;
};

// Every read checks what is left, so a count can never promise more than the image holds.
class Reader {
 public:
  Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && offset_ == size_; }
  std::size_t Left() const { return size_ - offset_; }

  unsigned U16() {
    if (!Take(2)) return 0;
    return data_[offset_ - 2] | (data_[offset_ - 1] << 8);
  }
  unsigned long U32() {
    const unsigned long low = U16();
    return low | (static_cast<unsigned long>(U16()) << 16);
  }
  GUID Guid() {
    GUID guid{};
    guid.Data1 = static_cast<ULONG>(U32());
    guid.Data2 = static_cast<USHORT>(U16());
    guid.Data3 = static_cast<USHORT>(U16());
    if (Take(8)) std::memcpy(guid.Data4, data_ + offset_ - 8, 8);
    return guid;
  }
  std::u16string Text() {
    const unsigned length = U16();
    if (!ok_ || Left() < 2 * std::size_t{length}) return Fail<std::u16string>();
    std::u16string text(length, u'\0');
    for (char16_t& unit : text) unit = static_cast<char16_t>(U16());
    return text;
  }
  // A count of items of at least minimum bytes each, refused when they cannot all fit.
  unsigned Count(std::size_t minimum) {
    const unsigned count = U16();
    return ok_ && Left() >= count * minimum ? count : Fail<unsigned>();
  }
  // A number stored as an enumeration, refused beyond the values the enumeration can hold.
  template <typename Enum>
  Enum Enumerated(unsigned largest) {
    const unsigned value = U16();
    return value <= largest ? static_cast<Enum>(value) : Fail<Enum>();
  }
  bool Magic() {
    if (!Take(8)) return false;
    if (std::memcmp(data_, kMagic, 8) != 0) ok_ = false;
    return ok_;
  }

 private:
  template <typename T>
  T Fail() {
    ok_ = false;
    return T{};
  }
  bool Take(std::size_t count) {
    if (!ok_ || Left() < count) return ok_ = false;
    offset_ += count;
    return true;
  }

  const unsigned char* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

// The smallest encodings, which bound each count by what is left.
constexpr std::size_t kMinParam = 6;
constexpr std::size_t kMinFunc = 16;
constexpr std::size_t kMinImpl = 6;
constexpr std::size_t kMinType = 30;

}  // namespace

std::vector<unsigned char> WriteTypeLibImage(const TypeLibData& data) {
  Writer w;
  w.Guid(data.guid);
  w.U32(data.lcid);
  w.U16(data.major);
  w.U16(data.minor);
  w.U16(data.flags);
  w.Text(data.name);
  w.Text(data.help);
  w.U16(static_cast<unsigned>(data.types.size()));
  for (const TypeLibType& type : data.types) {
    w.Guid(type.guid);
    w.U16(type.kind);
    w.U16(type.flags);
    w.Text(type.name);
    w.Text(type.help);
    w.U16(static_cast<unsigned>(type.funcs.size()));
    w.U16(static_cast<unsigned>(type.impls.size()));
    for (const TypeLibFunc& func : type.funcs) {
      w.U32(static_cast<unsigned long>(func.memid));
      w.U16(func.kind);
      w.U16(func.result);
      w.Text(func.name);
      w.Text(func.help);
      w.Text(func.resultName);
      w.U16(static_cast<unsigned>(func.params.size()));
      for (const TypeLibParam& param : func.params) {
        w.U16(param.vt);
        w.U16(param.flags);
        w.Text(param.name);
      }
    }
    for (const TypeLibImpl& impl : type.impls) {
      w.U16(impl.type);
      w.U32(static_cast<unsigned long>(impl.flags));
    }
  }
  return w.Take();
}

bool ReadTypeLibImage(const unsigned char* image, std::size_t size, TypeLibData* data) {
  if (image == nullptr || data == nullptr || size > kMaxTypeLibImage) return false;
  Reader in(image, size);
  if (!in.Magic()) return false;
  TypeLibData lib;
  lib.guid = in.Guid();
  lib.lcid = static_cast<LCID>(in.U32());
  lib.major = static_cast<WORD>(in.U16());
  lib.minor = static_cast<WORD>(in.U16());
  lib.flags = static_cast<WORD>(in.U16());
  lib.name = in.Text();
  lib.help = in.Text();
  lib.types.resize(in.Count(kMinType));
  for (TypeLibType& type : lib.types) {
    type.guid = in.Guid();
    type.kind = in.Enumerated<TYPEKIND>(TKIND_UNION);
    type.flags = static_cast<WORD>(in.U16());
    type.name = in.Text();
    type.help = in.Text();
    type.funcs.resize(in.Count(kMinFunc));
    const unsigned impls = in.U16();
    for (TypeLibFunc& func : type.funcs) {
      func.memid = static_cast<MEMBERID>(in.U32());
      func.kind = in.Enumerated<INVOKEKIND>(INVOKE_PROPERTYPUT);
      func.result = static_cast<VARTYPE>(in.U16());
      func.name = in.Text();
      func.help = in.Text();
      func.resultName = in.Text();
      func.params.resize(in.Count(kMinParam));
      for (TypeLibParam& param : func.params) {
        param.vt = static_cast<VARTYPE>(in.U16());
        param.flags = static_cast<USHORT>(in.U16());
        param.name = in.Text();
      }
    }
    if (!in.ok() || in.Left() < impls * kMinImpl) return false;
    type.impls.resize(impls);
    for (TypeLibImpl& impl : type.impls) {
      impl.type = in.U16();
      impl.flags = static_cast<INT>(in.U32());
    }
    if (!in.ok()) return false;
  }
  if (!in.AtEnd() || !IsValidTypeLib(lib)) return false;
  *data = std::move(lib);
  return true;
}

}  // namespace kwz_platform
