/* Binding of the debugger library's test controls by name. */
#include "debugger_library.h"
#include "host.h"

namespace cnode_run {

namespace {
template <typename T>
bool bind(HMODULE module, const char *name, T &slot)
{
    slot = reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    return slot != nullptr;
}
} // namespace

bool DebuggerLibrary::load(std::string &error)
{
    std::string path = program_directory() + "qexdebug.dll";
    handle_ = LoadLibraryA(path.c_str());
    if (!handle_) {
        error = "cannot load the debugger library " + path;
        return false;
    }
    bool ok = bind(handle_, "standin_dbg_control_block", control_block) &&
              bind(handle_, "standin_dbg_clear_control_block", clear_control_block) &&
              bind(handle_, "standin_dbg_module_symbol", module_symbol) &&
              bind(handle_, "standin_dbg_log_count", log_count) && bind(handle_, "standin_dbg_log_line", log_line) &&
              bind(handle_, "standin_dbg_hold", hold) && bind(handle_, "standin_dbg_wait_stop", wait_stop) &&
              bind(handle_, "standin_dbg_release", release) &&
              bind(handle_, "standin_dbg_release_all", release_all) &&
              bind(handle_, "standin_dbg_fault_next_barrier", fault_next_barrier);
    if (!ok) error = path + " lacks the debugger's controls";
    return ok;
}

std::vector<std::string> DebuggerLibrary::log_from(size_t from) const
{
    std::vector<std::string> lines;
    for (size_t i = from, n = log_count(); i < n; ++i) {
        int length = log_line(i, nullptr, 0);
        if (length < 0) break;
        std::string line(static_cast<size_t>(length) + 1, '\0');
        log_line(i, line.data(), line.size());
        line.resize(static_cast<size_t>(length));
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace cnode_run
