// A type library as data, and the image it is stored as: what a module carries as its TYPELIB
// resource and LoadTypeLib reads back.
//
// The image is little-endian, every count and length bounded by the bytes that follow:
//
//   "KWZTLB01"
//   library  guid, u32 lcid, u16 major, u16 minor, u16 flags, name, help, u16 types
//   type     guid, u16 kind, u16 flags, name, help, u16 functions, u16 implemented
//   function i32 memid, u16 invoke kind, u16 result type, name, help, retval name, u16 params
//   param    u16 type, u16 flags, name
//   impl     u16 type index, i32 flags
//
// where a guid is u32, u16, u16 and 8 bytes, and a name is a u16 count of UTF-16 units followed
// by them. A dispinterface marked TYPEFLAG_FDUAL is stored once: its interface half, which
// returns HRESULT and takes the result as an [out, retval] pointer, follows from it.
//
// Threads: the functions are free-threaded; a library they create is immutable and may be used
// from any thread.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/oleauto.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

struct TypeLibParam {
  std::u16string name;
  VARTYPE vt;
  USHORT flags;  // PARAMFLAG_*

  bool operator==(const TypeLibParam&) const = default;
};

struct TypeLibFunc {
  MEMBERID memid;
  INVOKEKIND kind;
  std::u16string name;
  std::u16string help;
  std::vector<TypeLibParam> params;
  VARTYPE result;  // VT_EMPTY: none
  std::u16string resultName;

  bool operator==(const TypeLibFunc&) const = default;
};

struct TypeLibImpl {
  UINT type;  // index of an interface in the same library
  INT flags;  // IMPLTYPEFLAG_*

  bool operator==(const TypeLibImpl&) const = default;
};

// TKIND_DISPATCH (optionally TYPEFLAG_FDUAL) or TKIND_COCLASS.
struct TypeLibType {
  GUID guid;
  TYPEKIND kind;
  WORD flags;  // TYPEFLAG_*
  std::u16string name;
  std::u16string help;
  std::vector<TypeLibFunc> funcs;
  std::vector<TypeLibImpl> impls;

  bool operator==(const TypeLibType&) const = default;
};

struct TypeLibData {
  GUID guid;
  LCID lcid;
  WORD major;
  WORD minor;
  WORD flags;  // LIBFLAG_*
  std::u16string name;
  std::u16string help;
  std::vector<TypeLibType> types;

  bool operator==(const TypeLibData&) const = default;
};

// The largest image read: far above any real library, so that a hostile file cannot make the
// reader allocate without bound.
inline constexpr std::size_t kMaxTypeLibImage = 1 << 20;

std::vector<unsigned char> WriteTypeLibImage(const TypeLibData& data);
// False, with *data unchanged, for an image that is cut short, too long, carries trailing bytes,
// or describes what a library cannot hold (an unknown kind or type, a coclass with functions,
// an interface with implemented types, a reference out of range or to a coclass).
bool ReadTypeLibImage(const unsigned char* image, std::size_t size, TypeLibData* data);
// The library's ITypeLib, with one reference for the caller. Its type information keeps the
// library alive.
HRESULT CreateTypeLibFromData(TypeLibData data, ITypeLib** lib);

}  // namespace kwz_platform

#pragma GCC visibility pop
