/* A program the import audit must refuse: it imports a function that no
   Windows before Vista exports and declares subsystem 6.0 (tests/win/imports.cmake). */
#define _WIN32_WINNT 0x0600
#include <windows.h>

int main(void) { return GetTickCount64() == 0 ? 1 : 0; }
