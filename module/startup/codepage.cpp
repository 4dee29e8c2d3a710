/* The process's multibyte code page, as the toolbox's text functions use it:
 * set at each attachment to the ANSI code page when that code page has lead
 * bytes, else 0. It keeps its value after detachment. */
#include <windows.h>
#include "cnode_startup.h"

extern "C" {
int32_t MultiByteCodePage = 0;
}
