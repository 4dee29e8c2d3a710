/* What the debugger knows about a thread and a module: the engine's thread
 * environment (source range, innermost debug frame, the control block), the
 * frame of the function that called a stoppoint, and module symbols read from
 * the symbol table of the module's file.
 *
 * The frame of the stoppoint's caller is found by unwinding the arriving
 * thread's own stack: past the frame of the module's stoppoint implementation
 * the unwound context holds the caller's resume address and frame pointer,
 * which is the frame address the stoppoint compares step frames with, and
 * just above the resume address lies the stoppoint's home slot, where the
 * stoppoint left the address of the statement's breakpoint byte. */
#include "debugger_internal.h"
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <vector>

namespace {

/* Offsets of the fields of the engine's debug thread environment. */
constexpr size_t kEnvRangeStart = 6352;
constexpr size_t kEnvRangeEnd = 6356;
constexpr size_t kEnvCurrentFrame = 6408;
constexpr size_t kEnvControlBlock = 7792;

constexpr const char *kStoppointImplementation = "__qex_stoppoint_implementation";
constexpr int kMaxUnwindDepth = 32;

template <typename T>
T read_at(const unsigned char *base, size_t offset)
{
    T value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

/* ---- module symbols ---- */

using SymbolTable = std::map<std::string, uint32_t>; /* name -> RVA */

std::string module_path(HMODULE module)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(module, path, sizeof path);
    return n && n < sizeof path ? std::string(path, n) : std::string();
}

/* Reads the COFF symbol table of the module's file; external symbols only. */
SymbolTable read_symbols(HMODULE module)
{
    SymbolTable table;
    std::string path = module_path(module);
    if (path.empty()) return table;
    std::ifstream f(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());

    auto base = reinterpret_cast<const unsigned char *>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER *sections = IMAGE_FIRST_SECTION(nt);
    size_t symbols_at = nt->FileHeader.PointerToSymbolTable;
    size_t count = nt->FileHeader.NumberOfSymbols;
    if (symbols_at == 0 || symbols_at + count * IMAGE_SIZEOF_SYMBOL + 4 > file.size()) return table;
    size_t strings_at = symbols_at + count * IMAGE_SIZEOF_SYMBOL;

    for (size_t i = 0; i < count; ++i) {
        IMAGE_SYMBOL sym;
        std::memcpy(&sym, file.data() + symbols_at + i * IMAGE_SIZEOF_SYMBOL, sizeof sym);
        size_t aux = sym.NumberOfAuxSymbols;
        if (sym.StorageClass == IMAGE_SYM_CLASS_EXTERNAL && sym.SectionNumber > 0 &&
            sym.SectionNumber <= nt->FileHeader.NumberOfSections) {
            std::string name;
            if (sym.N.Name.Short != 0) {
                name.assign(reinterpret_cast<const char *>(sym.N.ShortName),
                            strnlen(reinterpret_cast<const char *>(sym.N.ShortName), 8));
            } else if (strings_at + sym.N.Name.Long < file.size()) {
                const char *s = file.data() + strings_at + sym.N.Name.Long;
                name.assign(s, strnlen(s, file.size() - strings_at - sym.N.Name.Long));
            }
            table[name] = sections[sym.SectionNumber - 1].VirtualAddress + sym.Value;
        }
        i += aux;
    }
    return table;
}

std::mutex g_symbols_lock;
/* One table per loaded module, keyed by its handle and file. */
std::map<std::pair<HMODULE, std::string>, SymbolTable> g_symbols;

const SymbolTable &symbols_of(HMODULE module)
{
    std::lock_guard<std::mutex> guard(g_symbols_lock);
    auto key = std::make_pair(module, module_path(module));
    auto it = g_symbols.find(key);
    if (it == g_symbols.end()) it = g_symbols.emplace(key, read_symbols(module)).first;
    return it->second;
}

void *symbol_address(HMODULE module, const char *name)
{
    if (!module || !name) return nullptr;
    const SymbolTable &table = symbols_of(module);
    auto it = table.find(name);
    return it == table.end() ? nullptr : reinterpret_cast<unsigned char *>(module) + it->second;
}

/* ---- the stoppoint's caller ---- */

/* Unwinds the calling thread's stack to the frame that called the stoppoint
 * implementation and records its frame pointer and resume address. */
void find_stoppoint_caller(standin_dbg_stop_t &stop)
{
    CONTEXT context;
    RtlCaptureContext(&context);
    for (int depth = 0; depth < kMaxUnwindDepth && context.Rip != 0; ++depth) {
        DWORD64 image_base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &image_base, nullptr);
        if (!function) { /* a leaf: its return address is on top of the stack */
            context.Rip = *reinterpret_cast<DWORD64 *>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void *implementation =
            symbol_address(reinterpret_cast<HMODULE>(image_base), kStoppointImplementation);
        bool leaving_implementation =
            implementation && image_base + function->BeginAddress == reinterpret_cast<DWORD64>(implementation);
        void *handler_data = nullptr;
        DWORD64 establisher = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, image_base, context.Rip, function, &context, &handler_data,
                         &establisher, nullptr);
        if (leaving_implementation) {
            stop.frame_address = context.Rbp;
            stop.return_address = reinterpret_cast<void *>(context.Rip);
            stop.entry = *reinterpret_cast<volatile unsigned char **>(context.Rsp);
            return;
        }
    }
}

} // namespace

unsigned char *dbg::thread_environment()
{
    HMODULE engine = GetModuleHandleA("qex_gwrt.dll");
    if (!engine) return nullptr;
    auto get = reinterpret_cast<void *(*)(void)>(
        reinterpret_cast<void *>(GetProcAddress(engine, "__DBG_GetCurrentThreadEnv")));
    return get ? static_cast<unsigned char *>(get()) : nullptr;
}

void dbg::read_thread_position(standin_dbg_stop_t &stop)
{
    DWORD saved = GetLastError();
    if (unsigned char *env = thread_environment()) {
        stop.range_start = read_at<uint32_t>(env, kEnvRangeStart);
        stop.range_end = read_at<uint32_t>(env, kEnvRangeEnd);
        stop.debug_frame = read_at<void *>(env, kEnvCurrentFrame);
    }
    find_stoppoint_caller(stop);
    SetLastError(saved);
}

extern "C" standin_dbg_control_block_t *standin_dbg_control_block(void)
{
    unsigned char *env = dbg::thread_environment();
    return env ? read_at<standin_dbg_control_block_t *>(env, kEnvControlBlock) : nullptr;
}

extern "C" void standin_dbg_clear_control_block(void)
{
    standin_dbg_control_block_t *block = standin_dbg_control_block();
    if (!block) return;
    block->global_flag = 0;
    block->suspend_flag = 0;
    block->watchpoint_flag = 0;
    block->single_step_flag = 0;
    block->single_step_frame = 0;
    block->single_step_thread = 0;
    block->call_evaluation = 0;
    block->call_function = 0;
    block->call_value = 0;
    block->call_operand = 0;
    block->call_thread = 0;
    block->call_barrier = 0;
}

extern "C" void *standin_dbg_module_symbol(HMODULE module, const char *name) { return symbol_address(module, name); }
