/* The module's entry from the Windows loader.
 *
 * Least layer: the C runtime's own entry runs first and then calls this
 * DllMain, which hands over to the helper runtime's. The loader entry of the
 * environment (attachment to the engine, debug registration, exit functions)
 * takes this file's place. */
#include <windows.h>
#include "cnode_helper.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    return __cnode_helper_DllMain(module, reason, reserved);
}
