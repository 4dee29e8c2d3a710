/* The host side of a node run: loads the engine, the memory manager and the
 * module the way the host engine does, reserves instances, and calls the
 * entry point with a freshly built error cluster. */
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include "cnode.h"
#include "options.h"

namespace cnode_run {

/* What one call brings back: the eight positions and the error cluster. */
struct Outputs {
    int32_t samp_indx = 0, freq_indx = 0, cap_indx = 0, loss_indx = 0, unit_indx = 0, volt_indx = 0,
            err_code_indx = 0, err_msg_indx = 0;
    uint8_t status = 0;
    int32_t code = 0;
    std::string source;
};

class Host {
public:
    Host() = default;
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    /* Loads qex_gwrt.dll, gwrt.dll and the module (a UTF-8 path; empty for
     * parse_measurement.dll beside cnode-run), and reserves the host's own
     * instance. Returns false with the reason, in words, in error. */
    bool load(const std::string &module_path, std::string &error);
    /* Runs the node once on an instance. The cluster's source is a real
     * string handle of the memory manager, disposed after the call. Calls on
     * different instances may run on different threads at the same time. */
    Outputs call(void *instance, const Inputs &in, const IncomingError &incoming);
    Outputs call(const Inputs &in, const IncomingError &incoming) { return call(instance(), in, incoming); }
    /* The same with a source handle that one caller (a batch worker) keeps
     * from call to call: the incoming text is written into it (resized in
     * place where it fits), and the handle the call gives back is kept for
     * the next call instead of being disposed. Give it back with
     * release_source. */
    Outputs call(void *instance, const Inputs &in, const IncomingError &incoming, void *&kept_source);
    void release_source(void *&kept_source);
    /* Further instances (batch workers): any distinct addresses. */
    void reserve(void *instance) { reserve_(instance); }
    void unreserve(void *instance) { unreserve_(instance); }
    /* Unreserves the instance and unloads the module (also done on destruction). */
    void unload();

    void *instance() { return &instance_tag_; }
    HMODULE module() const { return module_; }
    __cnode_callback_t abort_callback() const { return abort_; }

private:
    HMODULE engine_ = nullptr, memory_ = nullptr, module_ = nullptr;
    __cnode_EntryPoint_t entry_ = nullptr;
    __cnode_callback_t reserve_ = nullptr, unreserve_ = nullptr, abort_ = nullptr;
    void *(*new_handle_)(size_t) = nullptr;
    int32_t (*dispose_handle_)(void *) = nullptr;
    int32_t (*resize_)(int32_t, int32_t, void **, size_t) = nullptr;
    bool reserved_ = false;
    int instance_tag_ = 0; /* the instance is identified by this object's address */
};

/* The directory that holds cnode-run.exe, with a trailing backslash (UTF-8). */
std::string program_directory();

/* UTF-8 and the wide strings of the Windows API; invalid input is replaced. */
std::wstring widen(const std::string &utf8);
std::string narrow(const wchar_t *wide, size_t length);

} // namespace cnode_run
