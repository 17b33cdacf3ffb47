// ComObject<I...>: IUnknown for classes implementing one or more interfaces,
// with an atomic reference count that starts at 1 and QueryInterface over the
// interfaces and their bases. Objects are created with MakeComObject.
#pragma once

#include <atomic>
#include <new>
#include <utility>

#include "platform/comptr.h"

template <class First, class... Rest>
class ComObject : public First, public Rest... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        } else if (!(Match<First>(riid, ppv) || (Match<Rest>(riid, ppv) || ...))) {
            *ppv = QueryExtra(riid);
            if (!*ppv)
                return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }

    ULONG RefCountForTesting() const noexcept { return refs_.load(); }
    // The object's IUnknown (through its first interface).
    IUnknown* AsUnknown() noexcept { return static_cast<First*>(this); }

protected:
    virtual ~ComObject() = default;
    // Further interfaces a class answers beyond its bases; nullptr for none.
    virtual void* QueryExtra(REFIID) { return nullptr; }

private:
    template <class I>
    bool Match(REFIID riid, void** ppv)
    {
        if (!InterfaceChainHas<I>(riid))
            return false;
        *ppv = static_cast<I*>(this);
        return true;
    }

    std::atomic<ULONG> refs_{1};
};

// Creates T (reference count 1) and hands the reference to a ComPtr; null on allocation failure.
template <class T, class... Args>
ComPtr<T> MakeComObject(Args&&... args)
{
    T* p = new (std::nothrow) T(std::forward<Args>(args)...);
    return ComPtr<T>::Attach(p);
}

// The class factory of an in-process class whose objects need no arguments:
// makes a T (no aggregation) and answers the interface asked for.
template <class T>
class SimpleClassFactory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ComPtr<T> object = MakeComObject<T>();
        if (!object)
            return E_OUTOFMEMORY;
        return object->QueryInterface(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};
