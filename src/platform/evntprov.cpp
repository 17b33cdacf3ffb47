#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "platform/evntprov.h"
#include "platform/stringapiset.h"

namespace {

struct Provider {
    GUID id;
    std::string name;
    bool enabled = false;
    UCHAR level = 0;
    ULONGLONG keywords = 0;
};

struct Registry {
    std::mutex lock;
    std::map<REGHANDLE, Provider> providers;
    REGHANDLE next = 1;
};

// Never destroyed: libraries unregister from their own destructors at exit,
// after the statics of this one may be gone.
Registry& Providers()
{
    static Registry* r = new Registry;
    return *r;
}

// ZNTR_TRACE="level,flags": level 0 means every level; flags select keywords.
bool EnabledFromEnvironment(UCHAR& level, ULONGLONG& keywords)
{
    const char* setting = std::getenv("ZNTR_TRACE");
    if (!setting || !*setting)
        return false;
    char* end = nullptr;
    level = static_cast<UCHAR>(std::strtoul(setting, &end, 0));
    keywords = ~0ull;
    if (end && *end == ',')
        keywords = std::strtoull(end + 1, nullptr, 0);
    return true;
}

} // namespace

ULONG EventRegister(const GUID* ProviderId, PENABLECALLBACK EnableCallback, void* CallbackContext, REGHANDLE* RegHandle,
                    const char* name)
{
    if (!ProviderId || !RegHandle)
        return ERROR_INVALID_PARAMETER;
    Provider p{*ProviderId, name ? name : "", false, 0, 0};
    p.enabled = EnabledFromEnvironment(p.level, p.keywords);
    {
        Registry& r = Providers();
        std::lock_guard guard(r.lock);
        *RegHandle = r.next++;
        r.providers[*RegHandle] = p;
    }
    if (EnableCallback)
        EnableCallback(ProviderId, p.enabled ? EVENT_CONTROL_CODE_ENABLE_PROVIDER : EVENT_CONTROL_CODE_DISABLE_PROVIDER,
                       p.level, p.keywords, 0, nullptr, CallbackContext);
    return ERROR_SUCCESS;
}

ULONG EventUnregister(REGHANDLE RegHandle)
{
    Registry& r = Providers();
    std::lock_guard guard(r.lock);
    return r.providers.erase(RegHandle) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

ULONG EventWriteString(REGHANDLE RegHandle, UCHAR Level, ULONGLONG Keyword, LPCWSTR String)
{
    Registry& r = Providers();
    std::lock_guard guard(r.lock);
    const auto it = r.providers.find(RegHandle);
    if (it == r.providers.end())
        return ERROR_INVALID_HANDLE;
    const Provider& p = it->second;
    if (!p.enabled || (p.level != 0 && Level > p.level) || (Keyword != 0 && (Keyword & p.keywords) == 0))
        return ERROR_SUCCESS;
    std::fprintf(stderr, "[trace %s%s%s] %s\n", GuidToString(p.id).c_str(), p.name.empty() ? "" : " ", p.name.c_str(),
                 String ? WideToUtf8(String).c_str() : "");
    return ERROR_SUCCESS;
}
