// The module's event-tracing provider: registered at load, kept up to date by
// the enable callback, and numbered messages where the filters emit them.
#pragma once

#include "platform/evntprov.h"

inline constexpr GUID kTraceControlGuid = MakeGuid("79AD6DCE-ADAD-47AE-B49E-41BCDCCF9ED8");

// Trace flags.
inline constexpr ULONGLONG kTraceFlagEntry = 0x4;    // entry of module exports
inline constexpr ULONGLONG kTraceFlagTickets = 0x8;  // PrintTicket merges
inline constexpr ULONGLONG kTraceFlagRecords = 0x10; // the records shared between filters

void TraceRegister(const char* providerName);
void TraceUnregister();
bool TraceEnabled(ULONGLONG flag);
// Emits "<number>: <text>" when the flag is enabled.
void TraceMessage(ULONGLONG flag, int number, const char* text) noexcept;
