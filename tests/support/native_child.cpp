/* A host that runs the module without the debugger library, for a parent
 * that debugs it through the Windows debug API:
 *   support_native_child echo TEXT   the module echoes TEXT as standard output
 *   support_native_child node        one reservation, one call, one release
 * Exits with 0 when the module could be driven. */
#include <windows.h>
#include <cstring>
#include <string>
#include "module_loader.h"
#include "module_symbols.h"

using namespace testing_support;

int main(int argc, char **argv)
{
    if (argc < 2) return 2;
    NodeModule node;
    if (!node.load()) return 3;
    std::string command = argv[1];
    if (command == "echo" && argc == 3) {
        auto stdio = symbol_as<void (*)(const char *, uint32_t)>(node.handle, "__qex_debug_stdio");
        if (!stdio) return 4;
        stdio(argv[2], static_cast<uint32_t>(std::strlen(argv[2])));
        return 0;
    }
    if (command == "node") {
        int instance = 0;
        node.reserve(&instance);
        int32_t out[8] = {};
        __cnode_gwerror cluster{};
        /* No memory manager here: the call reports 12 and still enters and leaves. */
        node.entry(&instance, 1, 0, 1, 1, 1, 1, 16, 1, &out[0], &out[1], &out[2], &cluster, &out[3], &out[4],
                   &out[5], &out[6], &out[7]);
        node.unreserve(&instance);
        return 0;
    }
    return 2;
}
