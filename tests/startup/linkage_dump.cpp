/* Prints the names of the loaded node module's linkage table, as the engine
 * received it, one a line; used by the check that the table is complete. */
#include <windows.h>
#include <cstdio>
#include <string>
#include "cnode_startup.h"
#include "module_loader.h"
#include "standin_rte_startup.h"

int main()
{
    HMODULE module = LoadLibraryA((testing_support::exe_directory() + "parse_measurement.dll").c_str());
    if (!module) return 2;
    standin_rte_attachment_t a = {};
    if (standin_rte_attachment(module, &a) != 0) return 3;
    const auto *table = static_cast<const __QEX_LinkageRecord *>(a.linkage_table);
    for (int32_t i = 0; i < a.linkage_count; ++i) std::printf("%s\n", table[i].name);
    std::fflush(stdout);
    FreeLibrary(module);
    return 0;
}
