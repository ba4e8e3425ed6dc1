// Type libraries as tools and containers read them: the image written and read back, refused
// when damaged, the two halves of a dual interface, and files refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/com_ptr.h"
#include "platform/typelib_image.h"
#include "platform/widestring.h"
#include "tests/platform/RegistryTestSupport.h"

namespace {

using kwz_platform::TypeLibData;
using kwz_platform::TypeLibFunc;
using kwz_platform::TypeLibType;

constexpr GUID kLib = {0x6A1B0001, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 1}};
constexpr GUID kGauge = {0x6A1B0002, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 2}};
constexpr GUID kEvents = {0x6A1B0003, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 3}};
constexpr GUID kClass = {0x6A1B0004, 0x1111, 0x4222, {0x83, 0x33, 0, 0, 0, 0, 0, 4}};

// A dual interface with a property and a method, an event interface and the class of both.
TypeLibData Sample() {
  TypeLibType gauge{
      kGauge,
      TKIND_DISPATCH,
      TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION,
      u"IGauge",
      u"IGauge Interface",
      {TypeLibFunc{1, INVOKE_PROPERTYGET, u"Level", u"property Level", {}, VT_I4, u"pVal"},
       TypeLibFunc{1,
                   INVOKE_PROPERTYPUT,
                   u"Level",
                   u"property Level",
                   {{u"", VT_I4, PARAMFLAG_FIN}},
                   VT_EMPTY,
                   u""},
       TypeLibFunc{2,
                   INVOKE_FUNC,
                   u"Scale",
                   u"method Scale",
                   {{u"by", VT_R8, PARAMFLAG_FIN}, {u"name", VT_BSTR, PARAMFLAG_FIN}},
                   VT_BSTR,
                   u"result"}},
      {}};
  TypeLibType events{
      kEvents,
      TKIND_DISPATCH,
      0,
      u"_GaugeEvents",
      u"",
      {TypeLibFunc{1, INVOKE_FUNC, u"Moved", u"", {{u"to", VT_UI4, PARAMFLAG_FIN}}, VT_EMPTY, u""}},
      {}};
  TypeLibType coclass{
      kClass,
      TKIND_COCLASS,
      TYPEFLAG_FCANCREATE,
      u"Gauge",
      u"Gauge Class",
      {},
      {{0, IMPLTYPEFLAG_FDEFAULT}, {1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}};
  return {kLib,
          0x409,
          1,
          2,
          LIBFLAG_FCONTROL,
          u"GaugeLib",
          u"Gauge 1.2 Type Library",
          {gauge, events, coclass}};
}

CComPtr<ITypeLib> Build(const TypeLibData& data) {
  CComPtr<ITypeLib> lib;
  EXPECT_EQ(kwz_platform::CreateTypeLibFromData(data, &lib), S_OK);
  return lib;
}

std::u16string Take(BSTR text) {
  std::u16string out = text != nullptr ? text : u"";
  SysFreeString(text);
  return out;
}

TEST(TypeLibImageTest, ReadsBackWhatWasWritten) {
  const std::vector<unsigned char> image = kwz_platform::WriteTypeLibImage(Sample());
  TypeLibData read;
  ASSERT_TRUE(kwz_platform::ReadTypeLibImage(image.data(), image.size(), &read));
  EXPECT_EQ(read, Sample());
}

TEST(TypeLibImageTest, RefusesDamagedImagesAndLeavesTheOutputAlone) {
  const std::vector<unsigned char> good = kwz_platform::WriteTypeLibImage(Sample());
  // Every cut of the image is refused: no count may promise what is not there.
  for (std::size_t size = 0; size < good.size(); ++size) {
    TypeLibData read;
    EXPECT_FALSE(kwz_platform::ReadTypeLibImage(good.data(), size, &read)) << size;
  }
  auto with = [](auto change) {
    TypeLibData data = Sample();
    change(data);
    return kwz_platform::WriteTypeLibImage(data);
  };
  std::vector<unsigned char> trailing = good;
  trailing.push_back(0);
  std::vector<unsigned char> magic = good;
  magic[7] = '2';
  // The type count (right after the library's header and texts) made huge.
  std::vector<unsigned char> huge = good;
  const std::size_t typeCount = 8 + 16 + 4 + 6 + 2 + 2 * 8 + 2 + 2 * 22;
  ASSERT_EQ(huge[typeCount], 3);
  huge[typeCount] = 0xFF;
  huge[typeCount + 1] = 0xFF;
  const std::vector<std::pair<const char*, std::vector<unsigned char>>> cases = {
      {"a byte after the end", trailing},
      {"another magic", magic},
      {"a count beyond the image", huge},
      {"an unknown kind", with([](TypeLibData& d) { d.types[0].kind = TKIND_UNION; })},
      {"an unknown invoke kind",
       with([](TypeLibData& d) { d.types[0].funcs[0].kind = INVOKEKIND(3); })},
      {"a type no argument has",
       with([](TypeLibData& d) { d.types[0].funcs[2].params[0].vt = VT_PTR; })},
      {"a retval flag on a parameter",
       with([](TypeLibData& d) { d.types[0].funcs[2].params[0].flags = PARAMFLAG_FRETVAL; })},
      {"a coclass with functions",
       with([](TypeLibData& d) { d.types[2].funcs = d.types[1].funcs; })},
      {"an interface that implements", with([](TypeLibData& d) {
         d.types[1].impls = {{0, 0}};
       })},
      {"a reference beyond the library",
       with([](TypeLibData& d) { d.types[2].impls[1].type = 3; })},
      {"a coclass implementing a coclass",
       with([](TypeLibData& d) { d.types[2].impls[1].type = 2; })},
  };
  for (const auto& [what, image] : cases) {
    TypeLibData read;
    read.name = u"untouched";
    EXPECT_FALSE(kwz_platform::ReadTypeLibImage(image.data(), image.size(), &read)) << what;
    EXPECT_EQ(read.name, u"untouched") << what;
  }
  std::vector<unsigned char> oversized(kwz_platform::kMaxTypeLibImage + 1);
  std::copy(good.begin(), good.end(), oversized.begin());
  TypeLibData read;
  EXPECT_FALSE(kwz_platform::ReadTypeLibImage(oversized.data(), oversized.size(), &read));
  ITypeLib* lib = nullptr;
  TypeLibData invalid = Sample();
  invalid.types[2].impls[0].type = 7;
  EXPECT_EQ(kwz_platform::CreateTypeLibFromData(invalid, &lib), E_INVALIDARG);
  EXPECT_EQ(lib, nullptr);
}

// The walk a container makes from the class to the halves of a dual interface is the control's
// to show on its own library; here the rules it does not reach: the halves' kinds and sizes, a
// result as the function's type or as a last [out, retval] pointer, names, and refusals.
TEST(TypeLibTest, DualInterfaceHalvesNamesAndRefusals) {
  CComPtr<ITypeLib> lib = Build(Sample());
  CComPtr<ITypeInfo> dispatch, vtable, coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(kGauge, &dispatch), S_OK);
  HREFTYPE reference = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(~0u, &reference), S_OK);
  ASSERT_EQ(dispatch->GetRefTypeInfo(reference, &vtable), S_OK);
  struct Half {
    ITypeInfo* info;
    TYPEKIND kind;
    WORD slots;
    FUNCKIND funcKind;
  };
  for (const Half& half : {Half{dispatch, TKIND_DISPATCH, 7, FUNC_DISPATCH},
                           Half{vtable, TKIND_INTERFACE, 10, FUNC_PUREVIRTUAL}}) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(half.info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, half.kind);
    EXPECT_EQ(attr->cbSizeVft, half.slots * sizeof(void*));
    half.info->ReleaseTypeAttr(attr);
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(half.info->GetFuncDesc(2, &desc), S_OK);
    EXPECT_EQ(desc->funckind, half.funcKind);
    half.info->ReleaseFuncDesc(desc);
  }
  FUNCDESC* byDispatch = nullptr;
  ASSERT_EQ(dispatch->GetFuncDesc(2, &byDispatch), S_OK);
  EXPECT_EQ(byDispatch->cParams, 2);
  EXPECT_EQ(byDispatch->elemdescFunc.tdesc.vt, VT_BSTR);
  dispatch->ReleaseFuncDesc(byDispatch);
  FUNCDESC* bySlot = nullptr;
  ASSERT_EQ(vtable->GetFuncDesc(2, &bySlot), S_OK);
  ASSERT_EQ(bySlot->cParams, 3);
  EXPECT_EQ(bySlot->elemdescFunc.tdesc.vt, VT_HRESULT);
  EXPECT_EQ(bySlot->lprgelemdescParam[2].tdesc.vt, VT_PTR);
  EXPECT_EQ(bySlot->lprgelemdescParam[2].tdesc.lptdesc->vt, VT_BSTR);
  EXPECT_EQ(bySlot->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
  vtable->ReleaseFuncDesc(bySlot);

  BSTR names[4] = {};
  UINT count = 0;
  ASSERT_EQ(vtable->GetNames(2, names, 4, &count), S_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(Take(names[0]) + Take(names[1]) + Take(names[2]) + Take(names[3]),
            u"Scalebynameresult");
  ASSERT_EQ(dispatch->GetNames(1, names, 4, &count), S_OK);
  EXPECT_EQ(count, 1u) << "a property's value is not named on the dispatch half";
  Take(names[0]);
  LPOLESTR lookup[] = {const_cast<LPOLESTR>(u"SCALE"), const_cast<LPOLESTR>(u"Name")};
  MEMBERID ids[2] = {};
  ASSERT_EQ(dispatch->GetIDsOfNames(lookup, 2, ids), S_OK);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], 1);

  FUNCDESC* none = nullptr;
  EXPECT_EQ(vtable->GetFuncDesc(3, &none), TYPE_E_ELEMENTNOTFOUND);
  VARDESC* variable = nullptr;
  EXPECT_EQ(vtable->GetVarDesc(0, &variable), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(vtable->GetRefTypeOfImplType(~0u, &reference), TYPE_E_ELEMENTNOTFOUND);
  // The class lists the dual interface by its interface half.
  ASSERT_EQ(lib->GetTypeInfo(2, &coclass), S_OK);
  CComPtr<ITypeInfo> listed, bogus;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(0, &reference), S_OK);
  ASSERT_EQ(coclass->GetRefTypeInfo(reference, &listed), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(listed->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  listed->ReleaseTypeAttr(attr);
  EXPECT_EQ(coclass->GetRefTypeInfo(0x7FFF, &bogus), TYPE_E_ELEMENTNOTFOUND);
  void* object = nullptr;
  EXPECT_EQ(dispatch->CreateInstance(nullptr, IID_IUnknown, &object), TYPE_E_WRONGTYPEKIND);
}

// A library loading and registering from its file is the control module's test; here the
// files it must refuse.
TEST(TypeLibFileTest, RefusesMissingAndDamagedFiles) {
  kwz_test::TempDir folder;
  std::vector<unsigned char> damaged = kwz_platform::WriteTypeLibImage(Sample());
  damaged.resize(damaged.size() / 2);
  const std::string cut = std::string(folder.path()) + "/cut.tlb";
  std::ofstream(cut, std::ios::binary)
      .write(reinterpret_cast<const char*>(damaged.data()),
             static_cast<std::streamsize>(damaged.size()));
  const std::u16string absent = Widen((std::string(folder.path()) + "/absent.tlb").c_str());
  CComPtr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLib(absent.c_str(), &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadTypeLib(Widen(cut.c_str()).c_str(), &lib), TYPE_E_INVDATAREAD);
  EXPECT_EQ(LoadTypeLib(u"", &lib), E_INVALIDARG);
  EXPECT_EQ(lib.get(), nullptr);
}

}  // namespace
