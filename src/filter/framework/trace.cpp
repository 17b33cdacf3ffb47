#include "filter/framework/trace.h"

#include <atomic>
#include <string>

#include "platform/stringapiset.h"

namespace {

struct TraceState {
    std::atomic<REGHANDLE> handle{0};
    std::atomic<bool> enabled{false};
    std::atomic<UCHAR> level{0};
    std::atomic<ULONGLONG> flags{0};
};

TraceState g_trace;

void OnEnable(const GUID*, ULONG isEnabled, UCHAR level, ULONGLONG anyKeyword, ULONGLONG, EVENT_FILTER_DESCRIPTOR*, void*)
{
    g_trace.enabled = isEnabled == EVENT_CONTROL_CODE_ENABLE_PROVIDER;
    g_trace.level = level;
    g_trace.flags = anyKeyword;
}

} // namespace

void TraceRegister(const char* providerName)
{
    REGHANDLE handle = 0;
    EventRegister(&kTraceControlGuid, OnEnable, nullptr, &handle, providerName);
    g_trace.handle = handle;
}

void TraceUnregister()
{
    if (const REGHANDLE handle = g_trace.handle.exchange(0))
        EventUnregister(handle);
    g_trace.enabled = false;
}

bool TraceEnabled(ULONGLONG flag) { return g_trace.enabled && (g_trace.flags & flag) != 0; }

void TraceMessage(ULONGLONG flag, int number, const char* text) noexcept
{
    if (!TraceEnabled(flag))
        return;
    try {
        const std::u16string message = Utf8ToWide(std::to_string(number) + ": " + text);
        EventWriteString(g_trace.handle, 0, flag, message.c_str());
    } catch (...) {
        // a message that cannot be built is not written
    }
}
