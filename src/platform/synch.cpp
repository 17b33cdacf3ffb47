#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/synchapi.h"

namespace {

thread_local DWORD t_lastError = 0;

// Kernel objects are heap objects behind their HANDLE, identified by a tag.
constexpr std::uint32_t kEventTag = 0x45564E54;  // "EVNT"

struct Event {
    std::uint32_t tag = kEventTag;
    bool manualReset;
    bool signalled;
    std::mutex lock;
    std::condition_variable changed;

    Event(bool manual, bool initial) : manualReset(manual), signalled(initial) {}
};

Event* AsEvent(HANDLE h)
{
    auto* e = static_cast<Event*>(h);
    return e && e->tag == kEventTag ? e : nullptr;
}

} // namespace

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName)
{
    if (lpName) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    return new Event(bManualReset != FALSE, bInitialState != FALSE);
}

BOOL SetEvent(HANDLE hEvent)
{
    Event* e = AsEvent(hEvent);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard guard(e->lock);
        e->signalled = true;
    }
    e->changed.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE hEvent)
{
    Event* e = AsEvent(hEvent);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(e->lock);
    e->signalled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    Event* e = AsEvent(hHandle);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    std::unique_lock guard(e->lock);
    auto ready = [e] { return e->signalled; };
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
    Event* e = AsEvent(hObject);
    if (!e) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    e->tag = 0;
    delete e;
    return TRUE;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }
