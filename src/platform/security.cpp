// Access lists as permission bits (see aclapi.h).
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/aclapi.h"
#include "platform/file_paths.h"
#include "platform/synchapi.h"

struct ACL {
    mode_t mode;  // the permission bits the list stands for
};

namespace {

// A SID laid out as the platform lays it out (revision, count, authority,
// the sub-authorities), so a SID the caller builds itself reads the same.
struct Sid {
    BYTE revision;
    BYTE count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD sub[8];
};
constexpr BYTE kSidRevision = 1;
constexpr DWORD SidSize(BYTE count) { return 8 + 4 * DWORD{count}; }

struct Descriptor {
    ACL dacl;
};

bool IsEveryone(const TRUSTEE_W& trustee)
{
    if (trustee.TrusteeForm != TRUSTEE_IS_SID || !trustee.ptstrName)
        return false;
    const auto* sid = reinterpret_cast<const Sid*>(trustee.ptstrName);
    return sid->revision == kSidRevision && sid->count == 1 &&
           std::memcmp(sid->authority.Value, SECURITY_WORLD_SID_AUTHORITY.Value, 6) == 0 &&
           sid->sub[0] == SECURITY_WORLD_RID;
}

} // namespace

BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD s0, DWORD s1, DWORD s2, DWORD s3,
                              DWORD s4, DWORD s5, DWORD s6, DWORD s7, PSID* pSid)
{
    if (!authority || !pSid || count == 0 || count > 8)
        return FALSE;
    Sid* sid = new (std::nothrow) Sid{kSidRevision, count, *authority, {s0, s1, s2, s3, s4, s5, s6, s7}};
    *pSid = sid;
    return sid ? TRUE : FALSE;
}

BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID, PSID pSid, DWORD* cbSid)
{
    if (WellKnownSidType != WinWorldSid || !cbSid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD needed = SidSize(1);
    if (!pSid || *cbSid < needed) {
        *cbSid = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const Sid world{kSidRevision, 1, SECURITY_WORLD_SID_AUTHORITY, {SECURITY_WORLD_RID}};
    std::memcpy(pSid, &world, needed);
    *cbSid = needed;
    return TRUE;
}

void* FreeSid(PSID pSid)
{
    delete static_cast<Sid*>(pSid);
    return nullptr;
}

DWORD GetNamedSecurityInfoW(LPCWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                            PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor)
{
    if (!pObjectName || ObjectType != SE_FILE_OBJECT || SecurityInfo != DACL_SECURITY_INFORMATION || !ppDacl ||
        !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    if (ppsidOwner)
        *ppsidOwner = nullptr;
    if (ppsidGroup)
        *ppsidGroup = nullptr;
    if (ppSacl)
        *ppSacl = nullptr;
    struct stat info {};
    if (::stat(NativePath(pObjectName).c_str(), &info) != 0)
        return ERROR_FILE_NOT_FOUND;
    auto* descriptor = static_cast<Descriptor*>(std::malloc(sizeof(Descriptor)));
    if (!descriptor)
        return ERROR_NOT_ENOUGH_MEMORY;
    descriptor->dacl.mode = info.st_mode & 0777;
    *ppDacl = &descriptor->dacl;
    *ppSecurityDescriptor = descriptor;
    return ERROR_SUCCESS;
}

DWORD SetEntriesInAclW(ULONG count, EXPLICIT_ACCESS_W* entries, PACL OldAcl, PACL* NewAcl)
{
    if (!NewAcl || (count > 0 && !entries))
        return ERROR_INVALID_PARAMETER;
    mode_t mode = OldAcl ? OldAcl->mode : 0600;
    for (ULONG i = 0; i < count; ++i) {
        const EXPLICIT_ACCESS_W& e = entries[i];
        if (!IsEveryone(e.Trustee) || e.grfInheritance != NO_INHERITANCE)
            return ERROR_NOT_SUPPORTED;
        const DWORD rights = e.grfAccessPermissions;
        if (rights & ~(GENERIC_READ | GENERIC_WRITE))
            return ERROR_NOT_SUPPORTED;
        const mode_t bits = static_cast<mode_t>(((rights & GENERIC_READ) ? 0444 : 0) | ((rights & GENERIC_WRITE) ? 0222 : 0));
        switch (e.grfAccessMode) {
        case GRANT_ACCESS: mode |= bits; break;
        case SET_ACCESS: mode = (mode & 0700) | bits; break;   // Everyone's rights are exactly these
        case REVOKE_ACCESS: mode &= 0700; break;
        default: return ERROR_NOT_SUPPORTED;
        }
    }
    auto* acl = static_cast<ACL*>(std::malloc(sizeof(ACL)));
    if (!acl)
        return ERROR_NOT_ENOUGH_MEMORY;
    acl->mode = mode;
    *NewAcl = acl;
    return ERROR_SUCCESS;
}

DWORD SetNamedSecurityInfoW(LPWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo, PSID,
                            PSID, PACL pDacl, PACL)
{
    if (!pObjectName || ObjectType != SE_FILE_OBJECT || SecurityInfo != DACL_SECURITY_INFORMATION || !pDacl)
        return ERROR_INVALID_PARAMETER;
    return ::chmod(NativePath(pObjectName).c_str(), pDacl->mode) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

HLOCAL LocalFree(HLOCAL hMem)
{
    std::free(hMem);
    return nullptr;
}
