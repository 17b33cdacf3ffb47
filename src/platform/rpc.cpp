#include "platform/rpc.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>

namespace {

std::atomic<UuidGenerator> g_generator{nullptr};
std::atomic<RPC_STATUS> g_status{RPC_S_OK};

UUID RandomUuid()
{
    thread_local std::mt19937_64 engine{std::random_device{}()};
    const std::uint64_t hi = engine();
    const std::uint64_t lo = engine();
    UUID u{};
    u.Data1 = static_cast<DWORD>(hi >> 32);
    u.Data2 = static_cast<WORD>(hi >> 16);
    u.Data3 = static_cast<WORD>((hi & 0x0FFF) | 0x4000);  // version 4
    for (int i = 0; i < 8; ++i)
        u.Data4[i] = static_cast<BYTE>(lo >> (56 - 8 * i));
    u.Data4[0] = static_cast<BYTE>((u.Data4[0] & 0x3F) | 0x80);  // RFC 4122 variant
    return u;
}

} // namespace

RPC_STATUS UuidCreate(UUID* Uuid)
{
    if (!Uuid)
        return RPC_S_INVALID_ARG;
    if (const RPC_STATUS status = g_status.load(); status != RPC_S_OK)
        return status;
    const UuidGenerator generator = g_generator.load();
    *Uuid = generator ? generator() : RandomUuid();
    return RPC_S_OK;
}

RPC_STATUS UuidToStringW(const UUID* u, RPC_WSTR* StringUuid)
{
    if (!u || !StringUuid)
        return RPC_S_INVALID_ARG;
    char buf[37];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", u->Data1, u->Data2, u->Data3,
                  u->Data4[0], u->Data4[1], u->Data4[2], u->Data4[3], u->Data4[4], u->Data4[5], u->Data4[6], u->Data4[7]);
    auto* out = static_cast<WCHAR*>(std::malloc(sizeof buf * sizeof(WCHAR)));
    if (!out)
        return RPC_S_OUT_OF_MEMORY;
    for (std::size_t i = 0; i < sizeof buf; ++i)
        out[i] = static_cast<WCHAR>(buf[i]);
    *StringUuid = out;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeW(RPC_WSTR* String)
{
    if (!String)
        return RPC_S_INVALID_ARG;
    std::free(*String);
    *String = nullptr;
    return RPC_S_OK;
}

void SetUuidGeneratorForTesting(UuidGenerator generator) { g_generator.store(generator); }

void SetUuidStatusForTesting(RPC_STATUS status) { g_status.store(status); }
