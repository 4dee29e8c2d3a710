/* __qex_project_sections: the module's image as the debugger maps it, one
 * record per section in image order, the relocation section left out, ended
 * by a record with a null begin.
 *
 * The table is built into the image by the link (cmake/project_sections.cmake
 * and module/CMakeLists.txt): a first link gives the section headers, and the
 * table written from them, each address the image base plus a relative
 * address under a base relocation, goes into the second link, which is
 * checked to lay the image out as the first. So the table is complete the
 * moment the image is mapped, wherever it loads, before any of its code runs;
 * the module only reads it. Names longer than eight characters (the
 * debug-information sections) are cut to eight. A program that links the
 * module's objects statically has a table without records. */
#include "debug_support.h"

extern "C" entry_t *__qex_project_sections_filled(void) { return __qex_project_sections; }
