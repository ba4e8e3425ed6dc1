// Type libraries where the control's own library does not reach: the image refused when
// damaged, the rules of the two halves of a dual interface, and files refused.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/typelib_image.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_platform::TypeLibData;
using kwz_platform::TypeLibFunc;

constexpr GUID kGauge = {0x6A1B0002, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 2}};

// A dual interface with a property and a method, an event interface and the class of both.
TypeLibData Sample() {
  constexpr auto in = PARAMFLAG_FIN;
  const std::vector<TypeLibFunc> gauge = {
      {1, INVOKE_PROPERTYGET, u"Level", u"", {}, VT_I4, u"pVal"},
      {1, INVOKE_PROPERTYPUT, u"Level", u"", {{u"", VT_I4, in}}, VT_EMPTY, u""},
      {2,
       INVOKE_FUNC,
       u"Scale",
       u"",
       {{u"by", VT_R8, in}, {u"name", VT_BSTR, in}},
       VT_BSTR,
       u"result"}};
  const std::vector<TypeLibFunc> events = {
      {1, INVOKE_FUNC, u"Moved", u"", {{u"to", VT_UI4, in}}, VT_EMPTY, u""}};
  const GUID lib = {0x6A1B0001, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 1}};
  const GUID eventsIid = {0x6A1B0003, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 3}};
  const GUID coclass = {0x6A1B0004, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 4}};
  return {lib,
          0x409,
          1,
          2,
          LIBFLAG_FCONTROL,
          u"GaugeLib",
          u"Gauge 1.2 Type Library",
          {{kGauge, TKIND_DISPATCH, TYPEFLAG_FDUAL, u"IGauge", u"", gauge, {}},
           {eventsIid, TKIND_DISPATCH, 0, u"_GaugeEvents", u"", events, {}},
           {coclass,
            TKIND_COCLASS,
            TYPEFLAG_FCANCREATE,
            u"Gauge",
            u"",
            {},
            {{0, IMPLTYPEFLAG_FDEFAULT}, {1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}}}};
}

TEST(TypeLibImageTest, ReadsBackWhatWasWrittenAndRefusesDamage) {
  const std::vector<unsigned char> good = kwz_platform::WriteTypeLibImage(Sample());
  TypeLibData read;
  ASSERT_TRUE(kwz_platform::ReadTypeLibImage(good.data(), good.size(), &read));
  EXPECT_EQ(read, Sample());
  // Every cut of the image is refused: no count may promise what is not there.
  for (std::size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(kwz_platform::ReadTypeLibImage(good.data(), size, &read)) << size;
  }
  auto with = [](auto change) {
    TypeLibData data = Sample();
    change(data);
    return kwz_platform::WriteTypeLibImage(data);
  };
  std::vector<unsigned char> trailing = good, magic = good, huge = good;
  trailing.push_back(0);
  magic[7] = '2';
  // The type count (right after the library's header and texts) made huge.
  const std::size_t typeCount = 8 + 16 + 4 + 6 + 2 + 2 * 8 + 2 + 2 * 22;
  ASSERT_EQ(huge[typeCount], 3);
  huge[typeCount] = huge[typeCount + 1] = 0xFF;
  std::vector<unsigned char> oversized(kwz_platform::kMaxTypeLibImage + 1);
  std::copy(good.begin(), good.end(), oversized.begin());
  using D = TypeLibData;
  const std::vector<std::pair<const char*, std::vector<unsigned char>>> cases = {
      {"a byte after the end", trailing},
      {"another magic", magic},
      {"a count beyond the image", huge},
      {"too big an image", oversized},
      {"an unknown kind", with([](D& d) { d.types[0].kind = TKIND_UNION; })},
      {"an unknown invoke kind", with([](D& d) { d.types[0].funcs[0].kind = INVOKEKIND(3); })},
      {"a type no argument has", with([](D& d) { d.types[0].funcs[2].params[0].vt = VT_PTR; })},
      {"a retval flag on a parameter",
       with([](D& d) { d.types[0].funcs[2].params[0].flags = PARAMFLAG_FRETVAL; })},
      {"a coclass with functions", with([](D& d) { d.types[2].funcs = d.types[1].funcs; })},
      {"an interface that implements", with([](D& d) {
         d.types[1].impls = {{0, 0}};
       })},
      {"a reference beyond the library", with([](D& d) { d.types[2].impls[1].type = 3; })},
      {"a coclass implementing a coclass", with([](D& d) { d.types[2].impls[1].type = 2; })},
  };
  for (const auto& [what, image] : cases) {
    read.name = u"untouched";
    EXPECT_FALSE(kwz_platform::ReadTypeLibImage(image.data(), image.size(), &read)) << what;
    EXPECT_EQ(read.name, u"untouched") << what;
  }
  ITypeLib* lib = nullptr;
  TypeLibData invalid = Sample();
  invalid.types[2].impls[0].type = 7;
  EXPECT_EQ(kwz_platform::CreateTypeLibFromData(invalid, &lib), E_INVALIDARG);
  EXPECT_EQ(lib, nullptr);
}

// The walk a container makes from the class to the halves of a dual interface is the control's
// to show on its own library; here the rules it does not reach: the halves' sizes and function
// kinds, a result as the function's type or as a last [out, retval] pointer, names looked up
// (a script's, ignoring case), refusals.
TEST(TypeLibTest, DualInterfaceHalvesNamesAndRefusals) {
  CComPtr<ITypeLib> lib;
  ASSERT_EQ(kwz_platform::CreateTypeLibFromData(Sample(), &lib), S_OK);
  CComPtr<ITypeInfo> dispatch, vtable, bogus;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kGauge, &dispatch), S_OK);
  HREFTYPE reference = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(~0u, &reference), S_OK);
  ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &vtable), S_OK);
  for (ITypeInfo* half : {dispatch.get(), vtable.get()}) {
    const bool byDispatch = half == dispatch.get();
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(half->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cbSizeVft, (byDispatch ? 7 : 10) * sizeof(void*));
    half->ReleaseTypeAttr(attr);
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(half->GetFuncDesc(2, &desc), S_OK);
    EXPECT_EQ(desc->funckind, byDispatch ? FUNC_DISPATCH : FUNC_PUREVIRTUAL);
    ASSERT_EQ(desc->cParams, byDispatch ? 2 : 3);
    EXPECT_EQ(desc->elemdescFunc.tdesc.vt, byDispatch ? VT_BSTR : VT_HRESULT);
    if (!byDispatch) {
      const ELEMDESC& retval = desc->lprgelemdescParam[2];
      EXPECT_EQ(retval.tdesc.vt, VT_PTR);
      EXPECT_EQ(retval.tdesc.lptdesc->vt, VT_BSTR);
      EXPECT_EQ(retval.paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    }
    half->ReleaseFuncDesc(desc);
  }

  LPOLESTR lookup[] = {const_cast<LPOLESTR>(u"SCALE"), const_cast<LPOLESTR>(u"Name"),
                       const_cast<LPOLESTR>(u"size")};
  MEMBERID ids[3] = {};
  ASSERT_EQ(dispatch->GetIDsOfNames(lookup, 2, ids), S_OK);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(dispatch->GetIDsOfNames(lookup, 3, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);

  FUNCDESC* none = nullptr;
  EXPECT_EQ(vtable->GetFuncDesc(3, &none), TYPE_E_ELEMENTNOTFOUND);
  VARDESC* variable = nullptr;
  EXPECT_EQ(vtable->GetVarDesc(0, &variable), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(vtable->GetRefTypeOfImplType(~0u, &reference), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(dispatch->GetRefTypeInfo(0x7FFF, &bogus), TYPE_E_ELEMENTNOTFOUND);
  void* object = nullptr;
  EXPECT_EQ(dispatch->CreateInstance(nullptr, IID_IUnknown, &object), TYPE_E_WRONGTYPEKIND);
}

// A library loading and registering from its file is the control module's test; here the
// files it must refuse.
TEST(TypeLibFileTest, RefusesMissingAndDamagedFiles) {
  kwz_test::TempDir folder;
  const std::vector<unsigned char> image = kwz_platform::WriteTypeLibImage(Sample());
  const std::string cut = std::string(folder.path()) + "/cut.tlb";
  std::ofstream(cut, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size() / 2));
  CComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(Widen((std::string(folder.path()) + "/absent.tlb").c_str()).c_str(), &lib),
            TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(Widen(cut.c_str()).c_str(), &lib), TYPE_E_INVDATAREAD);
  EXPECT_EQ(LoadTypeLib(u"", &lib), E_INVALIDARG);
  EXPECT_EQ(lib.get(), nullptr);
}

}  // namespace
