/* Linked into every i686 program: what the C runtime would otherwise import
   from Windows that Windows 98 and NT 4.0 do not promise.

   mingw-w64's multibyte conversion (mbrtowc, reached from its printf family
   and from the C++ runtime's terminate handler) calls IsDBCSLeadByteEx,
   which older systems' documentation does not list. This module supplies the
   import slot itself, so the linker never asks KERNEL32 for the function:
   the answer comes from the code page's lead-byte ranges, which GetCPInfo
   gives on every Win32 system. The linker is told to take this slot
   (-u __imp__IsDBCSLeadByteEx@8, set where this file is built). */
#include <windows.h>

static BOOL WINAPI LeadByteOfCodePage(UINT codePage, BYTE testChar) {
    CPINFO info;
    int i;
    if (!GetCPInfo(codePage, &info)) return FALSE;
    /* Pairs of inclusive ranges, ended by a pair of zeros. */
    for (i = 0; i + 1 < MAX_LEADBYTES && (info.LeadByte[i] != 0 || info.LeadByte[i + 1] != 0); i += 2) {
        if (testChar >= info.LeadByte[i] && testChar <= info.LeadByte[i + 1]) return TRUE;
    }
    return FALSE;
}

/* The import slot, under the name the import library would give it. */
BOOL(WINAPI* const WinFloorIsDBCSLeadByteEx)(UINT, BYTE) __asm__("__imp__IsDBCSLeadByteEx@8") = LeadByteOfCodePage;
