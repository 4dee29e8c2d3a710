/* Loading and calling the node module as the host engine does: LoadLibrary of
 * the engine, the memory manager and the module; GetProcAddress of the four
 * exports; reserve, call, unreserve, unload. */
#include "host.h"
#include <cstring>

namespace cnode_run {

namespace {

template <typename T>
T export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

std::string last_error_text()
{
    return "Windows error " + std::to_string(GetLastError());
}

} // namespace

std::string program_directory()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string p(path, n);
    size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

Host::~Host() { unload(); }

bool Host::load(const std::string &module_path, std::string &error)
{
    std::string dir = program_directory();
    engine_ = LoadLibraryA((dir + "qex_gwrt.dll").c_str());
    if (!engine_) { error = "cannot load qex_gwrt.dll: " + last_error_text(); return false; }
    memory_ = LoadLibraryA((dir + "gwrt.dll").c_str());
    if (!memory_) { error = "cannot load gwrt.dll: " + last_error_text(); return false; }
    new_handle_ = export_of<void *(*)(size_t)>(memory_, "DSNewHClr");
    dispose_handle_ = export_of<int32_t (*)(void *)>(memory_, "DSDisposeHandle");
    if (!new_handle_ || !dispose_handle_) { error = "gwrt.dll lacks DSNewHClr or DSDisposeHandle"; return false; }

    std::string path = module_path.empty() ? dir + "parse_measurement.dll" : module_path;
    module_ = LoadLibraryA(path.c_str());
    if (!module_) { error = "cannot load the module " + path + ": " + last_error_text(); return false; }
    entry_ = export_of<__cnode_EntryPoint_t>(module_, "__cnode_EntryPoint");
    reserve_ = export_of<__cnode_callback_t>(module_, "__cnode_reserve_callback");
    unreserve_ = export_of<__cnode_callback_t>(module_, "__cnode_unreserve_callback");
    abort_ = export_of<__cnode_callback_t>(module_, "__cnode_abort_callback");
    if (!entry_ || !reserve_ || !unreserve_ || !abort_) {
        error = path + " does not export the entry point and the three instance callbacks";
        return false;
    }
    reserve_(instance());
    reserved_ = true;
    return true;
}

Outputs Host::call(const Inputs &in, const IncomingError &incoming)
{
    /* The source text travels in a counted string of the memory manager. */
    const std::string &text = incoming.source;
    auto **source = static_cast<LStrHandle>(new_handle_(4 + text.size()));
    if (source) {
        (*source)->cnt = static_cast<int32_t>(text.size());
        std::memcpy((*source)->str, text.data(), text.size());
    }
    __cnode_gwerror cluster{};
    cluster.status = incoming.status;
    cluster.code = incoming.code;
    cluster.source = source;

    Outputs out; /* the terminals' default values: 0 */
    entry_(instance(), in.cap, in.err_code, in.freq, in.label, in.loss, in.samp, in.size, in.volt, &out.cap_indx,
           &out.err_code_indx, &out.err_msg_indx, &cluster, &out.freq_indx, &out.loss_indx, &out.samp_indx,
           &out.unit_indx, &out.volt_indx);

    out.status = cluster.status;
    out.code = cluster.code;
    auto back = static_cast<LStrHandle>(cluster.source);
    if (back && *back && (*back)->cnt > 0)
        out.source.assign(reinterpret_cast<const char *>((*back)->str), static_cast<size_t>((*back)->cnt));
    if (back) dispose_handle_(back);
    return out;
}

void Host::unload()
{
    if (reserved_) {
        unreserve_(instance());
        reserved_ = false;
    }
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
    if (memory_) FreeLibrary(memory_);
    memory_ = nullptr;
    if (engine_) FreeLibrary(engine_);
    engine_ = nullptr;
}

} // namespace cnode_run
