/* Loading and calling the node module as the host engine does: LoadLibrary of
 * the engine, the memory manager and the module; GetProcAddress of the four
 * exports; reserve, call, unreserve, unload.
 *
 * A DLL that does not load is explained in words: a missing file, a file that
 * is not a 64-bit Windows DLL (read from its headers), a missing DLL it
 * depends on, or a DLL whose own start-up refused to load, with the text its
 * start-up sent as debug output when there is one (an engine without the
 * abort entry is refused that way by every node module). */
#include "host.h"
#include <cstring>
#include <fstream>
#include <mutex>
#include <vector>

namespace cnode_run {

std::wstring widen(const std::string &utf8)
{
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string narrow(const wchar_t *wide, size_t length)
{
    if (length == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), n, nullptr, nullptr);
    return text;
}

namespace {

template <typename T>
T export_of(HMODULE module, const char *name)
{
    return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

std::string system_message(DWORD code)
{
    wchar_t *text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = n ? narrow(text, n) : std::string();
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
                                message.back() == '.'))
        message.pop_back();
    return (message.empty() ? "Windows error" : message) + " (Windows error " + std::to_string(code) + ")";
}

/* Why a file that exists is no 64-bit Windows DLL, read from its headers;
 * empty when the headers are those of one. */
std::string image_problem(const std::wstring &path)
{
    std::ifstream f(path.c_str(), std::ios::binary);
    if (!f) return "it cannot be opened for reading";
    IMAGE_DOS_HEADER dos{};
    if (!f.read(reinterpret_cast<char *>(&dos), sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE)
        return "it is not a Windows executable image (no MZ header)";
    IMAGE_NT_HEADERS64 nt{};
    f.seekg(dos.e_lfanew);
    if (dos.e_lfanew < 0 || !f.read(reinterpret_cast<char *>(&nt), sizeof nt.Signature + sizeof nt.FileHeader) ||
        nt.Signature != IMAGE_NT_SIGNATURE)
        return "it is not a Windows executable image (no PE header)";
    if (nt.FileHeader.Machine == IMAGE_FILE_MACHINE_I386) return "it is a 32-bit Windows image, not a 64-bit DLL";
    if (nt.FileHeader.Machine != IMAGE_FILE_MACHINE_AMD64) {
        char machine[16];
        std::snprintf(machine, sizeof machine, "0x%04x", nt.FileHeader.Machine);
        return std::string("it is built for another machine (") + machine + "), not as a 64-bit x86 DLL";
    }
    if (!(nt.FileHeader.Characteristics & IMAGE_FILE_DLL)) return "it is a program, not a DLL";
    return {};
}

/* Debug output sent while a DLL loads: its start-up's reason for a refusal.
 * Without a debugger, OutputDebugString raises an exception that its own
 * handler swallows; a vectored handler sees it first and keeps the text. */
std::mutex g_capture_mutex;
std::string *g_captured = nullptr; /* set only while a load is watched */

LONG CALLBACK capture_debug_output(EXCEPTION_POINTERS *info)
{
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    if (g_captured && r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
        const char *text = reinterpret_cast<const char *>(r->ExceptionInformation[1]);
        size_t length = static_cast<size_t>(r->ExceptionInformation[0]);
        if (text) g_captured->append(text, strnlen(text, length ? length : 4096));
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

/* Loads a DLL; on failure says why in words. what names it in messages. */
HMODULE load_dll(const std::string &path, const std::string &what, std::string &error)
{
    std::wstring wide = widen(path);
    std::string debug_output;
    HMODULE module;
    DWORD code;
    {
        std::lock_guard<std::mutex> guard(g_capture_mutex);
        g_captured = &debug_output;
        void *handler = AddVectoredExceptionHandler(1, capture_debug_output);
        module = LoadLibraryW(wide.c_str());
        code = GetLastError();
        if (handler) RemoveVectoredExceptionHandler(handler);
        g_captured = nullptr;
    }
    if (module) return module;

    error = "cannot load " + what + " " + path + ": ";
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error += "no such file";
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        error += "it is a directory";
    } else if (std::string problem = image_problem(wide); !problem.empty()) {
        error += problem;
    } else if (code == ERROR_MOD_NOT_FOUND) {
        error += "a DLL it depends on was not found";
    } else if (code == ERROR_PROC_NOT_FOUND) {
        error += "a DLL it depends on lacks a function it imports";
    } else if (code == ERROR_DLL_INIT_FAILED) {
        while (!debug_output.empty() && (debug_output.back() == '\n' || debug_output.back() == '\r'))
            debug_output.pop_back();
        error += "its start-up refused to load";
        error += debug_output.empty() ? " (it gave no reason)" : ": " + debug_output;
    } else {
        error += system_message(code);
    }
    return nullptr;
}

} // namespace

std::string program_directory()
{
    std::vector<wchar_t> path(MAX_PATH);
    DWORD n;
    while ((n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) == path.size())
        path.resize(path.size() * 2);
    std::string p = narrow(path.data(), n);
    size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

Host::~Host() { unload(); }

bool Host::load(const std::string &module_path, std::string &error)
{
    std::string dir = program_directory();
    if (!(engine_ = load_dll(dir + "qex_gwrt.dll", "the engine", error))) return false;
    if (!(memory_ = load_dll(dir + "gwrt.dll", "the memory manager", error))) return false;
    new_handle_ = export_of<void *(*)(size_t)>(memory_, "DSNewHClr");
    dispose_handle_ = export_of<int32_t (*)(void *)>(memory_, "DSDisposeHandle");
    resize_ = export_of<int32_t (*)(int32_t, int32_t, void **, size_t)>(memory_, "NumericArrayResize");
    if (!new_handle_ || !dispose_handle_ || !resize_) {
        error = "the memory manager " + dir + "gwrt.dll does not export DSNewHClr, DSDisposeHandle and "
                "NumericArrayResize";
        return false;
    }

    std::string path = module_path.empty() ? dir + "parse_measurement.dll" : module_path;
    if (!(module_ = load_dll(path, "the module", error))) return false;
    entry_ = export_of<__cnode_EntryPoint_t>(module_, "__cnode_EntryPoint");
    reserve_ = export_of<__cnode_callback_t>(module_, "__cnode_reserve_callback");
    unreserve_ = export_of<__cnode_callback_t>(module_, "__cnode_unreserve_callback");
    abort_ = export_of<__cnode_callback_t>(module_, "__cnode_abort_callback");
    const std::pair<const char *, bool> exports[] = {{"__cnode_EntryPoint", entry_ != nullptr},
                                                     {"__cnode_reserve_callback", reserve_ != nullptr},
                                                     {"__cnode_unreserve_callback", unreserve_ != nullptr},
                                                     {"__cnode_abort_callback", abort_ != nullptr}};
    std::string missing;
    for (const auto &[name, present] : exports)
        if (!present) missing += (missing.empty() ? "" : ", ") + std::string(name);
    if (!missing.empty()) {
        std::string problem = image_problem(widen(path));
        error = "the module " + path + " is not a node module: " +
                (problem.empty() ? "it does not export " + missing : problem);
        return false;
    }
    reserve_(instance());
    reserved_ = true;
    return true;
}

Outputs Host::call(void *instance, const Inputs &in, const IncomingError &incoming)
{
    void *source = nullptr;
    Outputs out = call(instance, in, incoming, source);
    release_source(source);
    return out;
}

void Host::release_source(void *&kept_source)
{
    if (kept_source) dispose_handle_(kept_source);
    kept_source = nullptr;
}

Outputs Host::call(void *instance, const Inputs &in, const IncomingError &incoming, void *&kept_source)
{
    /* The source text travels in a counted string of the memory manager
     * (bytes: type code 1, one dimension). */
    const std::string &text = incoming.source;
    auto source = static_cast<LStrHandle>(kept_source);
    if (source && resize_(1, 1, reinterpret_cast<void **>(&source), text.size()) != 0) {
        dispose_handle_(source);
        source = nullptr;
    }
    if (!source) source = static_cast<LStrHandle>(new_handle_(4 + text.size()));
    if (source) {
        (*source)->cnt = static_cast<int32_t>(text.size());
        std::memcpy((*source)->str, text.data(), text.size());
    }
    __cnode_gwerror cluster{};
    cluster.status = incoming.status;
    cluster.code = incoming.code;
    cluster.source = source;

    Outputs out; /* the terminals' default values: 0 */
    entry_(instance, in.cap, in.err_code, in.freq, in.label, in.loss, in.samp, in.size, in.volt, &out.cap_indx,
           &out.err_code_indx, &out.err_msg_indx, &cluster, &out.freq_indx, &out.loss_indx, &out.samp_indx,
           &out.unit_indx, &out.volt_indx);

    out.status = cluster.status;
    out.code = cluster.code;
    auto back = static_cast<LStrHandle>(cluster.source);
    if (back && *back && (*back)->cnt > 0)
        out.source.assign(reinterpret_cast<const char *>((*back)->str), static_cast<size_t>((*back)->cnt));
    kept_source = back; /* the call's to dispose: the caller's from now on */
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
