// The COM stream interfaces ISequentialStream and IStream.
#pragma once

#include "platform/unknwn.h"

ZNTR_DEFINE_IID(ISequentialStream, "0C733A30-2A1C-11CE-ADE5-00AA0044773A");
ZNTR_DEFINE_IID(IStream, "0000000C-0000-0000-C000-000000000046");

enum STREAM_SEEK : DWORD { STREAM_SEEK_SET = 0, STREAM_SEEK_CUR = 1, STREAM_SEEK_END = 2 };

enum STGTY : DWORD { STGTY_STORAGE = 1, STGTY_STREAM = 2, STGTY_LOCKBYTES = 3, STGTY_PROPERTY = 4 };
enum STATFLAG : DWORD { STATFLAG_DEFAULT = 0, STATFLAG_NONAME = 1 };
enum LOCKTYPE : DWORD { LOCK_WRITE = 1, LOCK_EXCLUSIVE = 2, LOCK_ONLYONCE = 4 };
inline constexpr DWORD STGM_READ = 0;
inline constexpr DWORD STGM_SHARE_DENY_NONE = 0x40;
inline constexpr DWORD STGM_SHARE_DENY_WRITE = 0x20;

struct STATSTG {
    LPWSTR pwcsName;       // task-memory string, freed by the caller
    DWORD type;            // STGTY
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

struct ISequentialStream : IUnknown {
    using Base = IUnknown;
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;

protected:
    ~ISequentialStream() = default;
};

struct IStream : ISequentialStream {
    using Base = ISequentialStream;
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) = 0;
    STDMETHOD(CopyTo)(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    STDMETHOD(Commit)(DWORD grfCommitFlags) = 0;
    STDMETHOD(Revert)() = 0;
    STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    STDMETHOD(Clone)(IStream** ppstm) = 0;

protected:
    ~IStream() = default;
};
