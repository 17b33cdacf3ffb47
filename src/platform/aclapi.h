// Access lists on files, as far as the driver uses them: an entry for the
// well-known group Everyone (S-1-1-0) with read and write rights, merged into
// a file's access list. A file's access list here is its permission bits:
// Everyone's rights are the group and other bits (the owner keeps its own and
// gains what Everyone has). Other trustees answer ERROR_NOT_SUPPORTED.
#pragma once

#include "platform/winerror.h"

using PSID = void*;
struct ACL;
using PACL = ACL*;
using PSECURITY_DESCRIPTOR = void*;
using HLOCAL = void*;
using SECURITY_INFORMATION = DWORD;

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};
using PSID_IDENTIFIER_AUTHORITY = SID_IDENTIFIER_AUTHORITY*;
inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_WORLD_SID_AUTHORITY{{0, 0, 0, 0, 0, 1}};
inline constexpr DWORD SECURITY_WORLD_RID = 0;

inline constexpr SECURITY_INFORMATION DACL_SECURITY_INFORMATION = 0x4;
inline constexpr DWORD NO_INHERITANCE = 0;

enum SE_OBJECT_TYPE { SE_UNKNOWN_OBJECT_TYPE = 0, SE_FILE_OBJECT = 1 };
enum ACCESS_MODE { NOT_USED_ACCESS = 0, GRANT_ACCESS, SET_ACCESS, DENY_ACCESS, REVOKE_ACCESS };
enum TRUSTEE_FORM { TRUSTEE_IS_SID = 0, TRUSTEE_IS_NAME };
enum TRUSTEE_TYPE {
    TRUSTEE_IS_UNKNOWN = 0,
    TRUSTEE_IS_USER,
    TRUSTEE_IS_GROUP,
    TRUSTEE_IS_DOMAIN,
    TRUSTEE_IS_ALIAS,
    TRUSTEE_IS_WELL_KNOWN_GROUP
};

struct TRUSTEE_W {
    TRUSTEE_W* pMultipleTrustee;
    int MultipleTrusteeOperation;
    TRUSTEE_FORM TrusteeForm;
    TRUSTEE_TYPE TrusteeType;
    LPWSTR ptstrName;  // the SID, for TRUSTEE_IS_SID
};

struct EXPLICIT_ACCESS_W {
    DWORD grfAccessPermissions;
    ACCESS_MODE grfAccessMode;
    DWORD grfInheritance;
    TRUSTEE_W Trustee;
};

// A SID of the authority and sub-authorities (count 1 to 8); freed with FreeSid.
BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority, BYTE nSubAuthorityCount,
                              DWORD nSubAuthority0, DWORD nSubAuthority1, DWORD nSubAuthority2, DWORD nSubAuthority3,
                              DWORD nSubAuthority4, DWORD nSubAuthority5, DWORD nSubAuthority6, DWORD nSubAuthority7,
                              PSID* pSid);
void* FreeSid(PSID pSid);

enum WELL_KNOWN_SID_TYPE { WinNullSid = 0, WinWorldSid = 1 };
inline constexpr DWORD SECURITY_MAX_SID_SIZE = 68;
// A well-known SID into the caller's buffer of *cbSid bytes (only
// WinWorldSid); too small: FALSE, ERROR_INSUFFICIENT_BUFFER, the size needed.
BOOL CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid, PSID pSid, DWORD* cbSid);

// The file's access list (DACL_SECURITY_INFORMATION only), inside a
// descriptor freed with LocalFree. ERROR_FILE_NOT_FOUND for a missing file.
DWORD GetNamedSecurityInfoW(LPCWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                            PSID* ppsidOwner, PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                            PSECURITY_DESCRIPTOR* ppSecurityDescriptor);
// The old list with the entries merged in; the new list is freed with LocalFree.
DWORD SetEntriesInAclW(ULONG cCountOfExplicitEntries, EXPLICIT_ACCESS_W* pListOfExplicitEntries, PACL OldAcl,
                       PACL* NewAcl);
// Gives the file the access list.
DWORD SetNamedSecurityInfoW(LPWSTR pObjectName, SE_OBJECT_TYPE ObjectType, SECURITY_INFORMATION SecurityInfo,
                            PSID psidOwner, PSID psidGroup, PACL pDacl, PACL pSacl);
HLOCAL LocalFree(HLOCAL hMem);
