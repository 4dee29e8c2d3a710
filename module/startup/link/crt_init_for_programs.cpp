/* _CRT_INIT for programs that link the module's static library (the unit
 * tests): a program's C runtime starts itself, so the loader entry's call of
 * the DLL runtime's _CRT_INIT has nothing to do there. The DLL links the
 * runtime's own _CRT_INIT and never this unit, which only the static library
 * carries and the linker pulls in only where nothing else defines the name. */
#include <windows.h>

extern "C" BOOL WINAPI _CRT_INIT(HANDLE, DWORD, LPVOID) { return TRUE; }
