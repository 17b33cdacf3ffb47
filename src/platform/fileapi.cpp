#include "platform/fileapi.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_paths.h"
#include "platform/handle_table.h"
#include "platform/synchapi.h"

namespace {

DWORD ErrorFromErrno(int error, const std::filesystem::path& path)
{
    switch (error) {
    case EEXIST: return ERROR_FILE_EXISTS;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case ENOENT: {
        struct stat folder {};
        return ::stat(path.parent_path().empty() ? "." : path.parent_path().c_str(), &folder) == 0
                   ? ERROR_FILE_NOT_FOUND
                   : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    default: return ERROR_ACCESS_DENIED;
    }
}

} // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, SECURITY_ATTRIBUTES*, DWORD dwCreationDisposition,
                   DWORD, HANDLE)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool read = (dwDesiredAccess & (GENERIC_READ | GENERIC_ALL)) != 0;
    const bool write = (dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)) != 0;
    int flags = O_CLOEXEC | (read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY);
    switch (dwCreationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
    }
    const std::filesystem::path path = NativePath(lpFileName);
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_HANDLE_VALUE;
    }
    return AddFileHandle(fd);
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               void* lpOverlapped)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    const int fd = FileDescriptorOf(hFile);
    if (fd < 0)
        return FALSE;
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToWrite > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* p = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t n = ::write(fd, p + done, nNumberOfBytesToWrite - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return TRUE;
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead, void* lpOverlapped)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    const int fd = FileDescriptorOf(hFile);
    if (fd < 0)
        return FALSE;
    if (lpOverlapped || (!lpBuffer && nNumberOfBytesToRead > 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ssize_t n;
    do
        n = ::read(fd, lpBuffer, nNumberOfBytesToRead);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = static_cast<DWORD>(n);  // 0 at the end of the file
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR lpFileName)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::filesystem::path path = NativePath(lpFileName);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        SetLastError(ErrorFromErrno(errno, path));
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}
