// IUnknown, IClassFactory and the interface-identifier machinery every COM interface uses.
#pragma once

#include <type_traits>

#include "platform/guiddef.h"
#include "platform/winerror.h"

#define STDMETHODCALLTYPE
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name

// The interface identifier of interface type I: uuidof<I>().
template <class I>
struct InterfaceTraits;

template <class I>
constexpr const IID& uuidof() noexcept
{
    return InterfaceTraits<I>::iid;
}

// Declares the identifier IID_<name> and ties it to the interface type, so that
// uuidof<name>() and ComPtr::As find it.
#define ZNTR_DEFINE_IID(name, text)                   \
    struct name;                                      \
    inline constexpr IID IID_##name = MakeGuid(text); \
    template <>                                       \
    struct InterfaceTraits<name> {                    \
        static constexpr const IID& iid = IID_##name; \
    }

ZNTR_DEFINE_IID(IUnknown, "00000000-0000-0000-C000-000000000046");
ZNTR_DEFINE_IID(IClassFactory, "00000001-0000-0000-C000-000000000046");

struct IUnknown {
    using Base = void;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

    // Typed QueryInterface.
    template <class Q>
    HRESULT QueryInterface(Q** pp)
    {
        return QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(pp));
    }

protected:
    ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
    using Base = IUnknown;
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    STDMETHOD(LockServer)(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// True when riid names I or one of the interfaces I derives from.
template <class I>
constexpr bool InterfaceChainHas(REFIID riid) noexcept
{
    if (riid == uuidof<I>())
        return true;
    if constexpr (std::is_void_v<typename I::Base>)
        return false;
    else
        return InterfaceChainHas<typename I::Base>(riid);
}
