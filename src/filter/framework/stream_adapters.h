// COM streams over a part's IPrintReadStream, for XML parsers that read COM streams.
//
// ReadStreamAdapter: an ISequentialStream whose Read forwards to ReadBytes;
// Write answers E_NOTIMPL.
// ReadStreamAsIStream: an IStream whose Read and Seek forward to the read
// stream and whose Stat describes it ("PrintReadStream", its size, the times
// taken at construction with the access time renewed by every read); every
// other method answers E_NOTIMPL.
// Both hold one counted reference to the read stream.
//
// PartName: a part's name as GetUri answers it.
#pragma once

#include <string>

#include "platform/comobject.h"
#include "platform/filterpipeline.h"
#include "platform/objidl.h"

class ReadStreamAdapter final : public ComObject<ISequentialStream> {
public:
    explicit ReadStreamAdapter(IPrintReadStream* stream) : stream_(stream) {}

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;

private:
    ComPtr<IPrintReadStream> stream_;
};

class ReadStreamAsIStream final : public ComObject<IStream> {
public:
    explicit ReadStreamAsIStream(IPrintReadStream* stream);

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT STDMETHODCALLTYPE Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                     ULARGE_INTEGER* pcbWritten) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD grfCommitFlags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** ppstm) override;

private:
    ComPtr<IPrintReadStream> stream_;
    FILETIME created_{};
    FILETIME modified_{};
    FILETIME accessed_{};
};

// The part's name from GetUri; empty when it answers none.
HRESULT PartName(IPartBase* part, std::u16string& name);
