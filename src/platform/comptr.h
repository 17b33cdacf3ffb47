// ComPtr<T>: owns one counted reference to a COM interface.
#pragma once

#include <utility>

#include "platform/unknwn.h"

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    ComPtr(T* p) noexcept : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(static_cast<T*>(other.Get()))
    {
    }
    ~ComPtr() { Reset(); }

    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }

    // Adopts a reference the caller already owns (no AddRef).
    static ComPtr Attach(T* p) noexcept
    {
        ComPtr c;
        c.p_ = p;
        return c;
    }
    // Gives up the reference without releasing it.
    [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }

    void Reset() noexcept
    {
        if (T* p = std::exchange(p_, nullptr))
            p->Release();
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Releases the current reference and gives the slot for an out-parameter.
    T** ReleaseAndGetAddressOf() noexcept
    {
        Reset();
        return &p_;
    }
    T** GetAddressOf() noexcept { return &p_; }
    void** ReleaseAndGetVoidAddress() noexcept { return reinterpret_cast<void**>(ReleaseAndGetAddressOf()); }

    // QueryInterface into another holder.
    template <class U>
    HRESULT As(ComPtr<U>* out) const noexcept
    {
        if (!p_)
            return E_POINTER;
        U* found = nullptr;  // queried first: out may be this very holder
        const HRESULT hr = p_->QueryInterface(uuidof<U>(), reinterpret_cast<void**>(&found));
        *out = ComPtr<U>::Attach(found);
        return hr;
    }

    // Hands out a new reference through an out-parameter.
    HRESULT CopyTo(T** out) const noexcept
    {
        if (!out)
            return E_POINTER;
        *out = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }

    friend bool operator==(const ComPtr& a, const ComPtr& b) noexcept { return a.p_ == b.p_; }
    friend bool operator==(const ComPtr& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

private:
    T* p_ = nullptr;
};
