#include "filter/framework/stream_adapters.h"

#include <cstring>

#include "platform/objbase.h"
#include "platform/oleauto.h"

HRESULT ReadStreamAdapter::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    if (!stream_)
        return E_PENDING;
    return stream_->ReadBytes(pv, cb, pcbRead, nullptr);
}

HRESULT ReadStreamAdapter::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }

ReadStreamAsIStream::ReadStreamAsIStream(IPrintReadStream* stream) : stream_(stream)
{
    CoFileTimeNow(&created_);
    modified_ = created_;
    accessed_ = created_;
}

HRESULT ReadStreamAsIStream::Read(void* pv, ULONG cb, ULONG* pcbRead)
{
    if (!stream_)
        return E_PENDING;
    CoFileTimeNow(&accessed_);
    return stream_->ReadBytes(pv, cb, pcbRead, nullptr);
}

HRESULT ReadStreamAsIStream::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition)
{
    if (!stream_)
        return E_PENDING;
    ULONGLONG position = 0;
    const HRESULT hr = stream_->Seek(dlibMove.QuadPart, dwOrigin, &position);
    if (SUCCEEDED(hr) && plibNewPosition)
        plibNewPosition->QuadPart = position;
    return hr;
}

HRESULT ReadStreamAsIStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag)
{
    if (!pstatstg)
        return E_POINTER;
    if (!stream_)
        return E_PENDING;
    std::memset(pstatstg, 0, sizeof *pstatstg);

    // The size: seek to the end and back to where the stream was.
    ULONGLONG here = 0;
    ULONGLONG end = 0;
    HRESULT hr = stream_->Seek(0, STREAM_SEEK_CUR, &here);
    if (SUCCEEDED(hr))
        hr = stream_->Seek(0, STREAM_SEEK_END, &end);
    if (SUCCEEDED(hr))
        hr = stream_->Seek(static_cast<LONGLONG>(here), STREAM_SEEK_SET, nullptr);
    if (FAILED(hr))
        return hr;

    if (!(grfStatFlag & STATFLAG_NONAME)) {
        static constexpr char16_t kName[] = u"PrintReadStream";
        auto* name = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kName));
        if (!name)
            return E_OUTOFMEMORY;
        std::memcpy(name, kName, sizeof kName);
        pstatstg->pwcsName = name;
    }
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = end;
    pstatstg->mtime = modified_;
    pstatstg->ctime = created_;
    pstatstg->atime = accessed_;
    pstatstg->grfMode = STGM_SHARE_DENY_WRITE;  // 32
    pstatstg->grfLocksSupported = LOCK_WRITE;   // 1
    return S_OK;
}

HRESULT ReadStreamAsIStream::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::Commit(DWORD) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::Revert() { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }

HRESULT ReadStreamAsIStream::Clone(IStream**) { return E_NOTIMPL; }

HRESULT PartName(IPartBase* part, std::u16string& name)
{
    if (!part)
        return E_POINTER;
    BSTR uri = nullptr;
    const HRESULT hr = part->GetUri(&uri);
    name = uri ? std::u16string(uri, SysStringLen(uri)) : std::u16string();
    SysFreeString(uri);
    return hr;
}
