// The calling convention of callbacks that cross the codec core's
// interface, spelled out: i686 Windows code knows several, and a callback
// compiled for another one corrupts the stack. Empty where there is only one.
#pragma once

#ifdef _WIN32
#define VOZ_CDECL __cdecl
#else
#define VOZ_CDECL
#endif
