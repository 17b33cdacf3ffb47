// Event-tracing providers: registration, the enable callback and string events.
// A provider is enabled from the environment: ZNTR_TRACE="level,flags" (numbers,
// hexadecimal with 0x) turns it on at registration; messages go to stderr.
#pragma once

#include "platform/guiddef.h"
#include "platform/winerror.h"

using REGHANDLE = ULONGLONG;
using UCHAR = BYTE;

struct EVENT_FILTER_DESCRIPTOR;

// Called at registration (and whenever the session changes) with the enable state.
using PENABLECALLBACK = void (*)(const GUID* SourceId, ULONG IsEnabled, UCHAR Level, ULONGLONG MatchAnyKeyword,
                                 ULONGLONG MatchAllKeyword, EVENT_FILTER_DESCRIPTOR* FilterData, void* CallbackContext);

inline constexpr ULONG EVENT_CONTROL_CODE_DISABLE_PROVIDER = 0;
inline constexpr ULONG EVENT_CONTROL_CODE_ENABLE_PROVIDER = 1;

// Registers a provider; name may be null. Answers ERROR_SUCCESS.
ULONG EventRegister(const GUID* ProviderId, PENABLECALLBACK EnableCallback, void* CallbackContext, REGHANDLE* RegHandle,
                    const char* name = nullptr);
ULONG EventUnregister(REGHANDLE RegHandle);
// Writes one message when the provider is enabled at that level and keyword.
ULONG EventWriteString(REGHANDLE RegHandle, UCHAR Level, ULONGLONG Keyword, LPCWSTR String);
