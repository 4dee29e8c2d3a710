/* Attachment of the module to the run-time engine, and the warning given when
 * an outdated development environment has loaded the module.
 *
 * InitQEXRTEEx loads the support library that serves the process (under the
 * module's activation context), opens the exit-function library, and hands
 * the engine the module's linkage table, through which the engine, the
 * environment and the debugger find the module's functions by name. It is
 * called by the loader entry and again by the helper runtime's DllMain, where
 * it only reports the attachment. CloseQEXRTE undoes it once; further calls do
 * nothing. Both run under the Windows loader lock and take no lock of their
 * own. */
#include <string.h>
#include <windows.h>
#include "cnode_startup.h"
#include "qex_rte.h"

extern "C" {
int32_t ImageRuntimeTarget = 3;
int32_t ImageDebuggingLevel = 3;

HMODULE ModuleInstance = nullptr;
HMODULE RuntimeSupportLibrary = nullptr;
int32_t RuntimeInitialized = 0;

const char *const __QEX_ComponentList[] = {"2btg04h3.obj",     "qex_gwrt.lib",     "qexpharlap.lib",
                                           "cnode_helper.obj", "toolbox_gwrt.obj", "coreSDK.lib",
                                           nullptr};
}

namespace {

/* Tables the engine accepts beside the linkage table; this module has none. */
struct EngineTable {
    const void *table;
    int32_t count;
};
const EngineTable kNoTables[3] = {};
unsigned char g_engine_block[8] = {};

const char *support_library_name(int32_t answer)
{
    switch (answer) {
    case 1: return "pelmora.dll";
    case 2: return "qex_gwrt.dll";
    default: return "qexrte.dll";
    }
}

/* The code page when it has lead bytes, else 0 (also when it cannot be read). */
int32_t multibyte_code_page(UINT code_page)
{
    CPINFO info = {};
    if (!__QEX_SDK_GetCPInfo(code_page, &info)) return 0;
    return info.LeadByte[0] != 0 || info.LeadByte[1] != 0 ? static_cast<int32_t>(code_page) : 0;
}

typedef HRSRC(WINAPI *FindResourceFunction)(HMODULE, LPCSTR, LPCSTR);
typedef HGLOBAL(WINAPI *LoadResourceFunction)(HMODULE, HRSRC);
typedef LPVOID(WINAPI *LockResourceFunction)(HGLOBAL);

constexpr DWORD kFixedInfoSignature = 0xFEEF04BD;
constexpr size_t kFixedInfoOffset = 40;     /* in the version resource */
constexpr size_t kProductVersionOffset = 16; /* high word of the product version, in the fixed information */
constexpr DWORD kFirstCurrentVersion = 0x501F4; /* major 5, minor 500 */

template <typename Function> Function kernel32_entry(HMODULE kernel32, const char *name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(kernel32, name)));
}

/* Whether qex.dll is loaded and its version resource marks it as older than
 * 5.500. A resource that cannot be read or has no fixed information counts as
 * old (only old environments lack it); a kernel32 without the resource
 * functions makes nothing old. */
bool outdated_environment_loaded()
{
    HMODULE qex = GetModuleHandleA("qex.dll");
    if (!qex) return false;
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    if (!kernel32) return false;
    auto find_resource = kernel32_entry<FindResourceFunction>(kernel32, "FindResourceA");
    auto load_resource = kernel32_entry<LoadResourceFunction>(kernel32, "LoadResource");
    auto lock_resource = kernel32_entry<LockResourceFunction>(kernel32, "LockResource");
    if (!find_resource || !load_resource || !lock_resource) return false;

    HRSRC found = find_resource(qex, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
    if (!found) return true;
    HGLOBAL loaded = load_resource(qex, found);
    if (!loaded) return true;
    auto *resource = static_cast<const unsigned char *>(lock_resource(loaded));
    /* A resource too short to hold the fixed information has none. */
    if (!resource || SizeofResource(qex, found) < kFixedInfoOffset + kProductVersionOffset + sizeof(DWORD))
        return true;
    DWORD signature, product_version_high;
    memcpy(&signature, resource + kFixedInfoOffset, sizeof signature);
    if (signature != kFixedInfoSignature) return true;
    memcpy(&product_version_high, resource + kFixedInfoOffset + kProductVersionOffset, sizeof product_version_high);
    return product_version_high < kFirstCurrentVersion;
}

const char kQuestionCaption[] = "QEX DLL Run-time Warning";
const char kQuestionFormat[] =
    "The following DLL was created with QEX 5.5 or greater.  Running this DLL in\n"
    "older versions of QEX may result in non-deterministic behavior and can crash\n"
    "the QEX environment.\n\nDLL: %s\n\nDo you want to abort loading the DLL?";

/* Asks whether to abort loading; true for Yes. */
bool user_aborts_loading(HINSTANCE module)
{
    char name[260];
    if (GetModuleFileNameA(module, name, sizeof name) == 0) strcpy(name, "unknown DLL");
    name[sizeof name - 1] = 0;
    char text[1024]; /* wsprintfA writes at most 1024 characters */
    wsprintfA(text, kQuestionFormat, name);
    return __QEX_Startup_MessagePopup(kQuestionCaption, text, MB_YESNO) == IDYES;
}

} // namespace

extern "C" int32_t __ImageUsedInOldQEX(HINSTANCE module, int32_t *no_further_warning)
{
    if (no_further_warning) *no_further_warning = 0;
    if (!outdated_environment_loaded()) {
        if (no_further_warning) *no_further_warning = 1;
        return 0;
    }
    /* Only stand-alone run-time images ask; the others are warned by the
     * debug registration instead. */
    if (ImageRuntimeTarget != 1) return 0;
    bool abort_loading = user_aborts_loading(module);
    if (no_further_warning) *no_further_warning = 1;
    return abort_loading ? 1 : 0;
}

/* user32 is bound late, so that the module needs no link-time dependency on
 * it; the reference is released whatever the answer. */
extern "C" int32_t __QEX_Startup_MessagePopup(const char *caption, const char *text, UINT type)
{
    HMODULE user32 = LoadLibraryA("user32.dll");
    if (!user32) return 0;
    typedef int(WINAPI * MessageBoxFunction)(HWND, LPCSTR, LPCSTR, UINT);
    auto message_box =
        reinterpret_cast<MessageBoxFunction>(reinterpret_cast<void *>(GetProcAddress(user32, "MessageBoxA")));
    int32_t answer = message_box ? message_box(nullptr, text, caption, type) : 0;
    FreeLibrary(user32);
    return answer;
}

extern "C" int32_t InitQEXRTEEx(HINSTANCE module, void *, void *)
{
    UINT code_page = __QEX_SDK_GetACP();
    if (RuntimeInitialized) return 1;
    ModuleInstance = module ? module : GetModuleHandleA(nullptr);
    RuntimeSupportLibrary = __QEX__LoadLibrarySxS(support_library_name(WhichRuntimeSupportDll()));
    if (!RuntimeSupportLibrary) return 0;
    _InitExitLib();
    int32_t attached = InitQEXRTDll(ModuleInstance, __QEX_LinkageTable, __QEX_LinkageTableCount, kNoTables[0].table,
                                    kNoTables[0].count, kNoTables[1].table, kNoTables[1].count, kNoTables[2].table,
                                    kNoTables[2].count, g_engine_block, __QEX_ComponentList);
    MultiByteCodePage = multibyte_code_page(code_page);
    QEX_Set387PrecisionToDouble();
    RuntimeInitialized = attached;
    return attached;
}

extern "C" int32_t InitQEXRTE(HINSTANCE module) { return InitQEXRTEEx(module, nullptr, nullptr); }

extern "C" void CloseQEXRTE(void)
{
    if (!RuntimeInitialized) return;
    if (__IsRuntimeDllStillLoaded() == 1) CloseQEXRTDll(ModuleInstance);
    if (RuntimeSupportLibrary) {
        FreeLibrary(RuntimeSupportLibrary);
        RuntimeSupportLibrary = nullptr;
    }
    RuntimeInitialized = 0;
}
