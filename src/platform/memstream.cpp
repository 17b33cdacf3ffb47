// CreateStreamOnHGlobal: an IStream over a byte vector that grows as it is written.
#include <algorithm>
#include <limits>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/comobject.h"
#include "platform/objbase.h"

namespace {

class MemoryStream final : public ComObject<IStream> {
public:
    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override
    {
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        std::lock_guard guard(lock_);
        const std::size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(available, cb));
        if (n)
            std::memcpy(pv, bytes_.data() + position_, n);
        position_ += n;
        if (pcbRead)
            *pcbRead = n;
        return n < cb ? S_FALSE : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override
    {
        if (!pv && cb)
            return STG_E_INVALIDPOINTER;
        try {
            std::lock_guard guard(lock_);
            if (position_ + cb > bytes_.size())
                bytes_.resize(position_ + cb);
            if (cb)
                std::memcpy(bytes_.data() + position_, pv, cb);
            position_ += cb;
        } catch (const std::exception&) {
            return E_OUTOFMEMORY;
        }
        if (pcbWritten)
            *pcbWritten = cb;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override
    {
        std::lock_guard guard(lock_);
        LONGLONG base;
        switch (dwOrigin) {
        case STREAM_SEEK_SET: base = 0; break;
        case STREAM_SEEK_CUR: base = static_cast<LONGLONG>(position_); break;
        case STREAM_SEEK_END: base = static_cast<LONGLONG>(bytes_.size()); break;
        default: return STG_E_INVALIDFUNCTION;
        }
        if ((dlibMove.QuadPart > 0 && base > std::numeric_limits<LONGLONG>::max() - dlibMove.QuadPart) ||
            base + dlibMove.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        const LONGLONG target = base + dlibMove.QuadPart;
        position_ = static_cast<std::size_t>(target);
        if (plibNewPosition)
            plibNewPosition->QuadPart = position_;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override
    {
        try {
            std::lock_guard guard(lock_);
            bytes_.resize(static_cast<std::size_t>(libNewSize.QuadPart));
        } catch (const std::exception&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override
    {
        if (!pstm)
            return STG_E_INVALIDPOINTER;
        std::vector<BYTE> chunk;
        {
            std::lock_guard guard(lock_);
            const std::size_t available = position_ < bytes_.size() ? bytes_.size() - position_ : 0;
            const std::size_t n = static_cast<std::size_t>(std::min<ULONGLONG>(available, cb.QuadPart));
            chunk.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(position_),
                         bytes_.begin() + static_cast<std::ptrdiff_t>(position_ + n));
            position_ += n;
        }
        ULONG written = 0;
        const HRESULT hr = pstm->Write(chunk.data(), static_cast<ULONG>(chunk.size()), &written);
        if (pcbRead)
            pcbRead->QuadPart = chunk.size();
        if (pcbWritten)
            pcbWritten->QuadPart = written;
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }

    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD) override
    {
        if (!pstatstg)
            return STG_E_INVALIDPOINTER;
        std::memset(pstatstg, 0, sizeof *pstatstg);
        std::lock_guard guard(lock_);
        pstatstg->type = STGTY_STREAM;
        pstatstg->cbSize.QuadPart = bytes_.size();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override
    {
        if (!ppstm)
            return STG_E_INVALIDPOINTER;
        ComPtr<MemoryStream> copy = MakeComObject<MemoryStream>();
        if (!copy)
            return E_OUTOFMEMORY;
        {
            std::lock_guard guard(lock_);
            copy->bytes_ = bytes_;
            copy->position_ = position_;
        }
        *ppstm = copy.Detach();
        return S_OK;
    }

private:
    std::mutex lock_;
    std::vector<BYTE> bytes_;
    std::size_t position_ = 0;
};

} // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL hGlobal, BOOL, IStream** ppstm)
{
    if (!ppstm)
        return E_INVALIDARG;
    *ppstm = nullptr;
    if (hGlobal)
        return E_NOTIMPL;  // streams over memory handed in are not needed
    *ppstm = MakeComObject<MemoryStream>().Detach();
    return *ppstm ? S_OK : E_OUTOFMEMORY;
}
