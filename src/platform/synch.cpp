#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/handle_table.h"
#include "platform/synchapi.h"

#include <unistd.h>

namespace {

thread_local DWORD t_lastError = 0;

// Kernel objects live in a table keyed by their handle, so a handle that was
// never handed out, or is already closed, is refused rather than followed.
struct Event {
    bool manualReset;
    bool signalled;
    std::mutex lock;
    std::condition_variable changed;

    Event(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
};

// Handle values are never reused, so a closed handle stays invalid.
struct HandleTable {
    std::mutex lock;
    std::unordered_map<HANDLE, std::shared_ptr<Event>> events;
    std::unordered_map<HANDLE, int> files;  // open descriptors
    std::uintptr_t next = 0x1000;
};

HandleTable& Handles()
{
    static HandleTable* table = new HandleTable;  // never destroyed: handles may be closed at exit
    return *table;
}

std::shared_ptr<Event> AsEvent(HANDLE h)
{
    HandleTable& t = Handles();
    std::lock_guard guard(t.lock);
    const auto it = t.events.find(h);
    if (it == t.events.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

HANDLE NewHandle(HandleTable& t)
{
    HANDLE h = reinterpret_cast<HANDLE>(t.next);
    t.next += 4;
    return h;
}

} // namespace

HANDLE AddFileHandle(int fd)
{
    HandleTable& t = Handles();
    std::lock_guard guard(t.lock);
    HANDLE h = NewHandle(t);
    t.files.emplace(h, fd);
    return h;
}

int FileDescriptorOf(HANDLE handle)
{
    HandleTable& t = Handles();
    std::lock_guard guard(t.lock);
    const auto it = t.files.find(handle);
    if (it == t.files.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return -1;
    }
    return it->second;
}

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    auto event = std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
    HandleTable& t = Handles();
    std::lock_guard guard(t.lock);
    HANDLE h = NewHandle(t);
    t.events.emplace(h, std::move(event));
    return h;
}

BOOL SetEvent(HANDLE hEvent)
{
    const std::shared_ptr<Event> e = AsEvent(hEvent);
    if (!e)
        return FALSE;
    {
        std::lock_guard guard(e->lock);
        e->signalled = true;
    }
    e->changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    const std::shared_ptr<Event> e = AsEvent(hEvent);
    if (!e)
        return FALSE;
    std::lock_guard guard(e->lock);
    e->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    const std::shared_ptr<Event> e = AsEvent(hHandle);
    if (!e)
        return WAIT_FAILED;
    std::unique_lock guard(e->lock);
    auto ready = [&e] { return e->signalled; };
    if (dwMilliseconds == INFINITE)
        e->changed.wait(guard, ready);
    else if (!e->changed.wait_for(guard, std::chrono::milliseconds(dwMilliseconds), ready))
        return WAIT_TIMEOUT;
    if (!e->manualReset)
        e->signalled = false;
    return WAIT_OBJECT_0;
}

BOOL CloseHandle(HANDLE hObject)
{
    HandleTable& t = Handles();
    std::lock_guard guard(t.lock);
    if (t.events.erase(hObject) != 0)
        return TRUE;
    const auto file = t.files.find(hObject);
    if (file == t.files.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const int fd = file->second;
    t.files.erase(file);
    return ::close(fd) == 0 ? TRUE : FALSE;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
