// libFuzzer target for type library images, as LoadTypeLib reads them from a module or a file
// that nobody vouches for. Input: the image itself.
//
// An accepted image, written again, gives back the same bytes (reading invents and drops no
// field), and is walked as a tool walks it: every type, both halves of a dual interface, every
// function, name and implemented interface.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzSupport.h"
#include "platform/com_ptr.h"
#include "platform/typelib_image.h"
#include "platform/winerror.h"

namespace {

void WalkType(ITypeInfo* info) {
  TYPEATTR* attr = nullptr;
  KWZ_FUZZ_CHECK(info->GetTypeAttr(&attr) == S_OK);
  const WORD functions = attr->cFuncs;
  const WORD implemented = attr->cImplTypes;
  info->ReleaseTypeAttr(attr);
  for (UINT i = 0; i < functions; ++i) {
    FUNCDESC* desc = nullptr;
    KWZ_FUZZ_CHECK(info->GetFuncDesc(i, &desc) == S_OK);
    const MEMBERID member = desc->memid;
    info->ReleaseFuncDesc(desc);
    BSTR names[8] = {};
    UINT count = 0;
    KWZ_FUZZ_CHECK(info->GetNames(member, names, 8, &count) == S_OK);
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
    BSTR help = nullptr;
    KWZ_FUZZ_CHECK(info->GetDocumentation(member, nullptr, &help, nullptr, nullptr) == S_OK);
    SysFreeString(help);
  }
  for (UINT i = 0; i < implemented; ++i) {
    HREFTYPE reference = 0;
    KWZ_FUZZ_CHECK(info->GetRefTypeOfImplType(i, &reference) == S_OK);
    CComPtr<ITypeInfo> target;
    KWZ_FUZZ_CHECK(info->GetRefTypeInfo(reference, &target) == S_OK);
  }
  HREFTYPE half = 0;
  if (info->GetRefTypeOfImplType(~0u, &half) == S_OK) {
    CComPtr<ITypeInfo> vtable;
    KWZ_FUZZ_CHECK(info->GetRefTypeInfo(half, &vtable) == S_OK);
    WalkType(vtable);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kwz_platform::TypeLibData read;
  if (!kwz_platform::ReadTypeLibImage(data, size, &read)) return 0;
  const std::vector<unsigned char> again = kwz_platform::WriteTypeLibImage(read);
  KWZ_FUZZ_CHECK(again.size() == size && std::equal(again.begin(), again.end(), data));
  CComPtr<ITypeLib> lib;
  KWZ_FUZZ_CHECK(kwz_platform::CreateTypeLibFromData(std::move(read), &lib) == S_OK);
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    CComPtr<ITypeInfo> info;
    KWZ_FUZZ_CHECK(lib->GetTypeInfo(i, &info) == S_OK);
    WalkType(info);
  }
  return 0;
}
