// Module WinNTFuncts: administrator test and folders open to everyone.
#include "WinNTFuncts.h"

#include <aclapi.h>

// The records handed to the system here. The absolute security descriptor
// is 20 bytes and the security attributes 12 on 32-bit Windows; on 64-bit
// Windows their pointers widen them to 40 and 24. The access entry goes to
// SetEntriesInAclA, bound by name, so no header checks its layout there.
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
#if defined(_WIN64)
static_assert(sizeof(SECURITY_DESCRIPTOR) == 40, "absolute security descriptor, 64-bit");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 24, "security attributes, 64-bit");
static_assert(sizeof(TRUSTEE_A) == 32 && sizeof(EXPLICIT_ACCESS_A) == 48, "explicit access entry, 64-bit");
#else
static_assert(sizeof(SECURITY_DESCRIPTOR) == 20, "absolute security descriptor, 32-bit");
static_assert(sizeof(SECURITY_ATTRIBUTES) == 12, "security attributes, 32-bit");
static_assert(sizeof(TRUSTEE_A) == 20 && sizeof(EXPLICIT_ACCESS_A) == 32, "explicit access entry, 32-bit");
#endif

namespace {

// This module's own copy of the OS version record (size 0 until queried).
OSVERSIONINFOA ntVersion{};

void QueryNtVersion() {
    ntVersion = OSVERSIONINFOA{};
    ntVersion.dwOSVersionInfoSize = sizeof(ntVersion);  // 148
    if (!GetVersionExA(&ntVersion)) {
        ntVersion = OSVERSIONINFOA{};
        ntVersion.dwOSVersionInfoSize = sizeof(ntVersion);  // queried, unknown: no access lists
    }
}

TCreateFolderProc createFolder = CreateDirectoryA;

// The two security calls that systems before Windows 2000 lack are bound by
// name, so the program still loads on the 9x family.
using TSetEntriesInAclAProc = DWORD(WINAPI*)(ULONG, PEXPLICIT_ACCESS_A, PACL, PACL*);
using TGetNamedSecurityInfoAProc = DWORD(WINAPI*)(LPCSTR, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID*, PSID*, PACL*,
                                                  PACL*, PSECURITY_DESCRIPTOR*);

template <typename Proc>
Proc BindProc(HMODULE lib, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

// Delete plus the nine file-specific rights; deliberately without
// READ_CONTROL, WRITE_DAC, WRITE_OWNER and SYNCHRONIZE.
constexpr DWORD kEveryoneMask = 0x101FF;

DWORD RoundUp4(DWORD n) { return (n + 3u) & ~3u; }

// Everything the last folder's security needs, freed on every path.
struct TOpenSecurity {
    PSECURITY_DESCRIPTOR parentSd = nullptr;  // self-relative, from GetNamedSecurityInfoA
    HLOCAL absBlock = nullptr;                // access lists, owner and group of the absolute copy
    PACL newAcl = nullptr;                    // parent's list plus the Everyone entry
    SECURITY_DESCRIPTOR absSd{};
    SECURITY_ATTRIBUTES attrs{};
    bool ready = false;

    TOpenSecurity() = default;
    TOpenSecurity(const TOpenSecurity&) = delete;
    TOpenSecurity& operator=(const TOpenSecurity&) = delete;
    ~TOpenSecurity() {
        if (newAcl != nullptr) LocalFree(newAcl);
        if (parentSd != nullptr) LocalFree(parentSd);
        if (absBlock != nullptr) LocalFree(absBlock);
    }
};

// Builds the parent's access list plus an Everyone entry into sec. Any
// failure leaves sec.ready false, and the folder gets default security.
void MergeEveryoneEntry(const std::string& parent, TSetEntriesInAclAProc setEntriesInAcl,
                        TGetNamedSecurityInfoAProc getNamedSecurityInfo, TOpenSecurity& sec) {
    PACL parentAcl = nullptr;
    if (getNamedSecurityInfo(parent.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &parentAcl,
                             nullptr, &sec.parentSd) != ERROR_SUCCESS) {
        sec.parentSd = nullptr;
        return;
    }

    // The descriptor as read is self-relative and cannot take a new list;
    // an absolute copy can. The first call only reports the sizes.
    DWORD absSize = 0, aclSize = 0, saclSize = 0, ownerSize = 0, groupSize = 0;
    /* ok = */ (void)MakeAbsoluteSD(sec.parentSd, nullptr, &absSize, nullptr, &aclSize, nullptr, &saclSize, nullptr,
                                    &ownerSize, nullptr, &groupSize);
    aclSize = RoundUp4(aclSize);
    saclSize = RoundUp4(saclSize);
    ownerSize = RoundUp4(ownerSize);
    groupSize = RoundUp4(groupSize);
    bool absOk = false;
    const SIZE_T blockSize = SIZE_T{aclSize} + saclSize + ownerSize + groupSize;
    sec.absBlock = LocalAlloc(LMEM_ZEROINIT, blockSize != 0 ? blockSize : 4);
    if (sec.absBlock != nullptr) {
        BYTE* at = static_cast<BYTE*>(sec.absBlock);
        PACL acl = aclSize != 0 ? reinterpret_cast<PACL>(at) : nullptr;
        at += aclSize;
        PACL sacl = saclSize != 0 ? reinterpret_cast<PACL>(at) : nullptr;
        at += saclSize;
        PSID owner = ownerSize != 0 ? static_cast<PSID>(at) : nullptr;
        at += ownerSize;
        PSID group = groupSize != 0 ? static_cast<PSID>(at) : nullptr;
        DWORD sdSize = sizeof(sec.absSd);  // the record's real size on this architecture
        absOk = MakeAbsoluteSD(sec.parentSd, &sec.absSd, &sdSize, acl, &aclSize, sacl, &saclSize, owner, &ownerSize,
                               group, &groupSize) != FALSE;
    }

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return;

    EXPLICIT_ACCESS_A entry{};
    entry.grfAccessPermissions = kEveryoneMask;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
    entry.Trustee.ptstrName = static_cast<LPSTR>(everyone);
    const DWORD merged = setEntriesInAcl(1, &entry, parentAcl, &sec.newAcl);
    FreeSid(everyone);
    if (merged != ERROR_SUCCESS) {
        sec.newAcl = nullptr;
        return;
    }

    PSECURITY_DESCRIPTOR sd = absOk ? static_cast<PSECURITY_DESCRIPTOR>(&sec.absSd) : sec.parentSd;
    if (!SetSecurityDescriptorDacl(sd, TRUE, sec.newAcl, FALSE)) return;
    sec.attrs.nLength = sizeof(sec.attrs);
    sec.attrs.lpSecurityDescriptor = sd;
    sec.attrs.bInheritHandle = FALSE;
    sec.ready = true;
}

void PrepareOpenSecurity(const std::string& parent, TOpenSecurity& sec) {
    HMODULE lib = LoadLibraryA("advapi32.dll");
    if (lib == nullptr) return;
    const auto setEntriesInAcl = BindProc<TSetEntriesInAclAProc>(lib, "SetEntriesInAclA");
    const auto getNamedSecurityInfo = BindProc<TGetNamedSecurityInfoAProc>(lib, "GetNamedSecurityInfoA");
    if (setEntriesInAcl != nullptr && getNamedSecurityInfo != nullptr) {
        MergeEveryoneEntry(parent, setEntriesInAcl, getNamedSecurityInfo, sec);
    }
    FreeLibrary(lib);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

void SetCreateFolderProc(TCreateFolderProc proc) { createFolder = proc != nullptr ? proc : CreateDirectoryA; }

void InitWinNTFuncts() { QueryNtVersion(); }

void DoneWinNTFuncts() { ntVersion = OSVERSIONINFOA{}; }

bool IsAdministrator() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (manager == nullptr) return false;
    CloseServiceHandle(manager);
    return true;
}

bool CreateOpenDirectory(const std::string& path) {
    if (path.empty() || path.size() > kOpenDirectoryMaxPath || path.find('\0') != std::string::npos) return false;
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;

    // "C:\a\b\" names the folder C:\a\b; without this the last step would try
    // to create a folder that the loop below has just made, and fail.
    size_t length = path.size();
    while (length > 0 && IsSeparator(path[length - 1])) --length;
    if (length == 0) return false;

    // Every parent on the way gets default security.
    char copy[kOpenDirectoryMaxPath + 1];
    size_t lastSeparator = length;  // index in copy; length when there is none
    for (size_t i = 0; i < length; ++i) {
        if (!IsSeparator(path[i])) {
            copy[i] = path[i];
            continue;
        }
        copy[i] = '\\';
        copy[i + 1] = '\0';
        lastSeparator = i;
        if (GetFileAttributesA(copy) == INVALID_FILE_ATTRIBUTES && !createFolder(copy, nullptr)) return false;
    }
    copy[length] = '\0';

    if (ntVersion.dwOSVersionInfoSize == 0) QueryNtVersion();
    TOpenSecurity sec;
    if (ntVersion.dwPlatformId == VER_PLATFORM_WIN32_NT && ntVersion.dwMajorVersion >= 5 && lastSeparator < length) {
        // The parent is the copy cut at its last backslash; a drive root keeps
        // it, since "C:" alone would name the drive's current folder.
        size_t parentLength = lastSeparator;
        if (parentLength == 0 || (parentLength == 2 && copy[1] == ':')) ++parentLength;
        PrepareOpenSecurity(std::string(copy, parentLength), sec);
    }
    return createFolder(copy, sec.ready ? &sec.attrs : nullptr) != FALSE;
}
