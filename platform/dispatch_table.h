// IDispatch driven by a table: a class declares each automation member once (name, DISPID,
// kind, help string, parameter names, and the member function, whose signature gives the
// parameter and retval types), and the table answers Invoke and describes the interface for
// the type library that containers list.
//
//   static const kwz_platform::DispatchTypeInfo& Info() {
//     static auto* info = new kwz_platform::DispatchTypeInfo(IID_IThing, u"IThing", u"help", {
//         DispPropGet<&Thing::get_Width>(u"Width", 1, u"property Width"),
//         DispPropPut<&Thing::put_Width>(u"Width", 1, u"property Width"),
//         DispMethod<&Thing::Join>(u"Join", 2, u"method Join", {u"group"})});
//     return *info;
//   }
//
// Member functions return HRESULT and take LONG, ULONG, SHORT, DOUBLE, BSTR, IDispatch*,
// IUnknown* or VARIANT arguments, optionally followed by one pointer to such a type as
// [out, retval]. [in] BSTR and interface arguments are borrowed for the call.
//
// Threads: a table is immutable once built and may be used from any thread; Invoke runs the
// member on the calling thread.
#pragma once

#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/com_object.h"
#include "platform/oleauto.h"
#include "platform/typelib_image.h"
#include "platform/winerror.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

struct DispatchMember {
  LPCOLESTR name;
  DISPID dispid;
  INVOKEKIND kind;
  LPCOLESTR help;
  std::vector<VARTYPE> params;        // declaration order
  std::vector<LPCOLESTR> paramNames;  // one more names the [out, retval]
  VARTYPE retval;                     // VT_EMPTY: none
  // Runs the member on object with args already coerced to params; a retval goes to *result.
  HRESULT (*call)(void* object, VARIANT* args, VARIANT* result);
};

// The description of one dispinterface and the engine of its IDispatch. Objects of this class
// are kept for the process's lifetime.
class DispatchTypeInfo final {
 public:
  DispatchTypeInfo(REFIID iid, LPCOLESTR name, LPCOLESTR help, std::vector<DispatchMember> members);
  DispatchTypeInfo(const DispatchTypeInfo&) = delete;
  DispatchTypeInfo& operator=(const DispatchTypeInfo&) = delete;

  const IID& Iid() const { return iid_; }
  const std::vector<DispatchMember>& Members() const { return members_; }

  // IDispatch::Invoke for object, the instance that the member functions belong to.
  // DISP_E_MEMBERNOTFOUND for an unknown DISPID or a kind the member does not have;
  // DISP_E_PARAMNOTFOUND for a put without its one DISPID_PROPERTYPUT named argument;
  // DISP_E_NONAMEDARGS for other named arguments; DISP_E_BADPARAMCOUNT for a wrong count;
  // DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW with *argError = the argument's index in rgvarg
  // when one cannot be coerced; DISP_E_EXCEPTION with *exception filled (scode = the member's
  // result, texts from the thread's error information) when the member fails.
  HRESULT Invoke(void* object, DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) const;

  // The interface as a type library lists it; typeFlags are its TYPEFLAG_*.
  TypeLibType Describe(WORD typeFlags = 0) const;

 private:
  const DispatchMember* Select(DISPID member, WORD flags) const;

  const IID iid_;
  LPCOLESTR name_;
  LPCOLESTR help_;
  const std::vector<DispatchMember> members_;
};

// How each argument type travels in a VARIANT.
template <typename T>
struct DispArg {
  static constexpr bool kKnown = false;
};
#define KWZ_DISP_ARG(Type, Vt, field)                            \
  template <>                                                    \
  struct DispArg<Type> {                                         \
    static constexpr bool kKnown = true;                         \
    static constexpr VARTYPE kVt = Vt;                           \
    static Type From(VARIANT& v) { return v.field; }             \
    static void To(VARIANT* v, Type value) { v->field = value; } \
  }
KWZ_DISP_ARG(LONG, VT_I4, lVal);
KWZ_DISP_ARG(ULONG, VT_UI4, ulVal);
KWZ_DISP_ARG(SHORT, VT_I2, iVal);
KWZ_DISP_ARG(DOUBLE, VT_R8, dblVal);
KWZ_DISP_ARG(BSTR, VT_BSTR, bstrVal);
KWZ_DISP_ARG(IDispatch*, VT_DISPATCH, pdispVal);
KWZ_DISP_ARG(IUnknown*, VT_UNKNOWN, punkVal);
#undef KWZ_DISP_ARG
template <>
struct DispArg<VARIANT> {
  static constexpr bool kKnown = true;
  static constexpr VARTYPE kVt = VT_VARIANT;  // passed as given, by value
  static VARIANT From(VARIANT& v) { return v; }
  static void To(VARIANT* v, VARIANT value) { *v = value; }
};

template <auto F>
struct MemberTraits;

template <typename C, typename... A, HRESULT (C::*F)(A...)>
struct MemberTraits<F> {
  using Class = C;
  using Args = std::tuple<A...>;
  static constexpr std::size_t kCount = sizeof...(A);

  template <typename T>
  static constexpr bool IsRetval() {
    if constexpr (std::is_pointer_v<T>) {
      return DispArg<std::remove_pointer_t<T>>::kKnown;
    } else {
      return false;
    }
  }
  static constexpr bool LastIsRetval() {
    if constexpr (kCount == 0) {
      return false;
    } else {
      return IsRetval<std::tuple_element_t<kCount - 1, Args>>();
    }
  }
  static constexpr bool kRetval = LastIsRetval();
  static constexpr std::size_t kIn = kCount - (kRetval ? 1 : 0);

  template <std::size_t I>
  using In = std::tuple_element_t<I, Args>;

  template <std::size_t... I>
  static std::vector<VARTYPE> ParamTypes(std::index_sequence<I...>) {
    static_assert((DispArg<In<I>>::kKnown && ...), "unsupported automation argument type");
    return {DispArg<In<I>>::kVt...};
  }
  static std::vector<VARTYPE> Params() { return ParamTypes(std::make_index_sequence<kIn>{}); }
  static VARTYPE Retval() {
    if constexpr (kRetval) {
      return DispArg<std::remove_pointer_t<std::tuple_element_t<kCount - 1, Args>>>::kVt;
    } else {
      return VT_EMPTY;
    }
  }

  template <typename Object, std::size_t... I>
  static HRESULT CallWith(void* object, VARIANT* args, VARIANT* result, std::index_sequence<I...>) {
    C* self = static_cast<C*>(static_cast<Object*>(object));
    if constexpr (kRetval) {
      using R = std::remove_pointer_t<std::tuple_element_t<kCount - 1, Args>>;
      R out{};
      const HRESULT hr = (self->*F)(DispArg<In<I>>::From(args[I])..., &out);
      if (SUCCEEDED(hr)) {
        result->vt = DispArg<R>::kVt;
        DispArg<R>::To(result, out);
      }
      return hr;
    } else {
      (void)args;
      (void)result;
      return (self->*F)(DispArg<In<I>>::From(args[I])...);
    }
  }
  template <typename Object>
  static HRESULT Call(void* object, VARIANT* args, VARIANT* result) {
    return CallWith<Object>(object, args, result, std::make_index_sequence<kIn>{});
  }
};

// Object is the class whose pointer Invoke receives; name it when F belongs to a base class.
template <auto F, typename Object = typename MemberTraits<F>::Class>
DispatchMember DispMethod(LPCOLESTR name, DISPID dispid, LPCOLESTR help,
                          std::vector<LPCOLESTR> paramNames = {}) {
  using T = MemberTraits<F>;
  return DispatchMember{name,        dispid,
                        INVOKE_FUNC, help,
                        T::Params(), std::move(paramNames),
                        T::Retval(), &T::template Call<Object>};
}

template <auto F, typename Object = typename MemberTraits<F>::Class>
DispatchMember DispPropGet(LPCOLESTR name, DISPID dispid, LPCOLESTR help,
                           LPCOLESTR retvalName = u"pVal") {
  using T = MemberTraits<F>;
  static_assert(T::kRetval && T::kIn == 0, "a getter takes only its [out, retval] pointer");
  return DispatchMember{name,        dispid,       INVOKE_PROPERTYGET, help,
                        T::Params(), {retvalName}, T::Retval(),        &T::template Call<Object>};
}

template <auto F, typename Object = typename MemberTraits<F>::Class>
DispatchMember DispPropPut(LPCOLESTR name, DISPID dispid, LPCOLESTR help) {
  using T = MemberTraits<F>;
  static_assert(!T::kRetval && T::kIn == 1, "a setter takes one value");
  return DispatchMember{name,        dispid, INVOKE_PROPERTYPUT, help,
                        T::Params(), {},     VT_EMPTY,           &T::template Call<Object>};
}

// Three IDispatch slots of Interface for Derived, which supplies
// static const DispatchTypeInfo& DispatchInfo() and GetTypeInfo, the interface's entry in its
// type library.
template <typename Derived, typename Interface>
class DispatchImpl : public Interface {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_INVALIDARG;
    *count = 1;
    return S_OK;
  }
  // Names resolve through the type information the object hands out.
  HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                        DISPID* dispids) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    const HRESULT hr = this->GetTypeInfo(0, locale, &info);
    if (FAILED(hr)) return hr;
    const HRESULT found = info->GetIDsOfNames(names, count, dispids);
    info->Release();
    return found;
  }
  HRESULT Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return Derived::DispatchInfo().Invoke(static_cast<Derived*>(this), member, flags, params,
                                          result, exception, argError);
  }
};

}  // namespace kwz_platform

#pragma GCC visibility pop
