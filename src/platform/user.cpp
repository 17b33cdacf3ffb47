// The process's user, from the password database.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/stringapiset.h"
#include "platform/synchapi.h"
#include "platform/winbase.h"

namespace {

// The effective user's login name; $USER, else the number, when the
// database has no entry for it (as in some containers).
std::string ProcessUserName()
{
    const uid_t uid = geteuid();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(uid);
}

} // namespace

BOOL GetUserNameW(LPWSTR lpBuffer, LPDWORD pcbBuffer)
{
    try {
        if (!pcbBuffer) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const std::u16string name = Utf8ToWide(ProcessUserName());
        const DWORD needed = static_cast<DWORD>(name.size() + 1);
        if (!lpBuffer || *pcbBuffer < needed) {
            *pcbBuffer = needed;
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::copy(name.begin(), name.end(), lpBuffer);
        lpBuffer[name.size()] = u'\0';
        *pcbBuffer = needed;
        return TRUE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
