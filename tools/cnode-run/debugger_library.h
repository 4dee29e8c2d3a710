/* The debugger library stand-in (qexdebug.dll) as cnode-run drives it: loaded
 * only when a debugging flag asks for it, so that a plain run, and the child
 * of --trace, run without it, the way a node runs outside the environment. */
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "standin_debugger.h"

namespace cnode_run {

/* Once loaded the library stays for the life of the process, as the
 * environment's does: the module binds its entries for good, and calls them
 * until it is unloaded. */
class DebuggerLibrary {
public:
    /* Loads qexdebug.dll from beside cnode-run and binds its test controls. */
    bool load(std::string &error);

    decltype(&standin_dbg_control_block) control_block = nullptr;
    decltype(&standin_dbg_clear_control_block) clear_control_block = nullptr;
    decltype(&standin_dbg_module_symbol) module_symbol = nullptr;
    decltype(&standin_dbg_log_count) log_count = nullptr;
    decltype(&standin_dbg_log_line) log_line = nullptr;
    decltype(&standin_dbg_hold) hold = nullptr;
    decltype(&standin_dbg_wait_stop) wait_stop = nullptr;
    decltype(&standin_dbg_release) release = nullptr;
    decltype(&standin_dbg_release_all) release_all = nullptr;
    decltype(&standin_dbg_fault_next_barrier) fault_next_barrier = nullptr;

    /* Log lines from index `from` on. */
    std::vector<std::string> log_from(size_t from) const;

private:
    HMODULE handle_ = nullptr;
};

} // namespace cnode_run
