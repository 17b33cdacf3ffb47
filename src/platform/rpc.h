// UUID creation and formatting.
#pragma once

#include "platform/guiddef.h"

using RPC_STATUS = LONG;
using RPC_WSTR = WCHAR*;
inline constexpr RPC_STATUS RPC_S_OK = 0;
inline constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;
inline constexpr RPC_STATUS RPC_S_INVALID_ARG = 87;
inline constexpr RPC_STATUS RPC_S_UUID_NO_ADDRESS = 1739;

// A new random (version 4) UUID.
RPC_STATUS UuidCreate(UUID* Uuid);
// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case, freed with RpcStringFreeW.
RPC_STATUS UuidToStringW(const UUID* Uuid, RPC_WSTR* StringUuid);
RPC_STATUS RpcStringFreeW(RPC_WSTR* String);

using UuidGenerator = UUID (*)();
// Replaces the generator behind UuidCreate (nullptr restores the random one).
void SetUuidGeneratorForTesting(UuidGenerator generator);
// Makes UuidCreate answer status without a UUID, as on a machine that cannot
// make one (RPC_S_OK restores normal working).
void SetUuidStatusForTesting(RPC_STATUS status);
