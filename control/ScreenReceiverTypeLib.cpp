#include "control/ScreenReceiverTypeLib.h"

#include "control/CKWZ_ScreenReceiver.h"
#include "control/ScreenReceiverGuids.h"

kwz_platform::TypeLibData ScreenReceiverTypeLibData() {
  using kwz_platform::TypeLibType;
  constexpr WORD kDual = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  TypeLibType coclass{
      CLSID_KWZ_ScreenReceiver,
      TKIND_COCLASS,
      TYPEFLAG_FCANCREATE | TYPEFLAG_FCONTROL,
      u"KWZ_ScreenReceiver",
      u"KWZ_ScreenReceiver Class",
      {},
      {{0, IMPLTYPEFLAG_FDEFAULT}, {1, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}}};
  return {LIBID_KWZ_ScreenReceiverLib,
          kScreenReceiverLibLocale,
          kScreenReceiverLibMajor,
          kScreenReceiverLibMinor,
          LIBFLAG_FCONTROL,
          u"KWZ_ScreenReceiverLib",
          u"KWZ_ScreenReceiver 1.0 Type Library",
          {CKWZ_ScreenReceiver::DispatchInfo().Describe(kDual),
           CKWZ_ScreenReceiver::EventsInfo().Describe(), std::move(coclass)}};
}

namespace {

// A static holder rather than a leaked pointer: unloading the module gives the library its
// reference back, and type information that a container still holds keeps it alive.
class LibraryHolder {
 public:
  LibraryHolder() { kwz_platform::CreateTypeLibFromData(ScreenReceiverTypeLibData(), &lib_); }
  ~LibraryHolder() {
    if (lib_ != nullptr) lib_->Release();
  }
  LibraryHolder(const LibraryHolder&) = delete;
  LibraryHolder& operator=(const LibraryHolder&) = delete;
  ITypeLib* get() const { return lib_; }

 private:
  ITypeLib* lib_ = nullptr;
};

}  // namespace

ITypeLib* ScreenReceiverTypeLib() {
  static LibraryHolder holder;
  return holder.get();
}
