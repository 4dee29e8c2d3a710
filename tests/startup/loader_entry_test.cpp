/* Load and unload of the node module through its loader entry, as Windows
 * does it: attachment to the engine with the linkage table, debug
 * registration, the helper runtime's start-up, and at unload the exit
 * functions after the helper's DllMain, then detachment. Also the C++
 * runtime around it all, and the outdated-environment warning. */
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "cnode_debug.h"
#include "cnode_startup.h"
#include "standin_rte.h"
#include "startup_test_support.h"

using namespace startup_testing;

namespace {

typedef int (*AtexitFunction)(void (*)(void));
typedef int32_t (*InitFunction)(HINSTANCE, void *, void *);
typedef void (*CloseFunction)(void);

void exit_function_a() { standin_rte_lifecycle_note("exit function A"); }
void exit_function_b() { standin_rte_lifecycle_note("exit function B"); }

class LoaderEntry : public ::testing::Test {
protected:
    void SetUp() override
    {
        standin_rte_reset();
        standin_rte_lifecycle_log_clear();
    }
};

TEST_F(LoaderEntry, AttachesRegistersAndStartsTheHelperThenUnwindsInOrderAtUnload)
{
    long locks_before = standin_rte_live_locks();
    ModuleUnderTest m;
    ASSERT_TRUE(m.load());

    /* Attachment: the engine kept the table, the component list and the rest. */
    standin_rte_attachment_t a = {};
    ASSERT_EQ(standin_rte_attachment(m.handle, &a), 0);
    EXPECT_GT(a.linkage_count, 100);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(a.tables[i], nullptr);
        EXPECT_EQ(a.counts[i], 0);
    }
    ASSERT_NE(a.block, nullptr);
    EXPECT_EQ(std::memcmp(a.block, "\0\0\0\0\0\0\0\0", 8), 0);
    const char *expected_components[] = {"2btg04h3.obj", "qex_gwrt.lib", "qexpharlap.lib", "cnode_helper.obj",
                                         "toolbox_gwrt.obj", "coreSDK.lib"};
    ASSERT_NE(a.components, nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_STREQ(a.components[i], expected_components[i]);
    EXPECT_EQ(a.components[6], nullptr);

    /* Registration with the engine and the debugger, in that order. */
    auto load_log = lifecycle_log();
    long attach_at = position_in(load_log, "InitQEXRTDll");
    EXPECT_EQ(attach_at, 0);
    EXPECT_GT(position_in(load_log, "__DBG_RegisterRTEWithDebugger"), attach_at);
    EXPECT_EQ(count_in(load_log, "InitQEXRTDll"), 1) << "the helper's own InitQEXRTEEx only reports";

    /* Debug registration: the engine's slot and level; functions entered now
     * belong to this image. */
    EXPECT_EQ(standin_rte_debugging_level(), 3);
    auto init_env = m.function<void *(*)(void)>("__DBG_InitializeThreadEnv");
    auto enter = m.function<void (*)(void *, __qex_debug_frame_t *, const char *)>("__DBG_EnterFunction");
    auto leave = m.function<void (*)(void *, __qex_debug_frame_t *)>("__DBG_LeaveFunction");
    ASSERT_TRUE(init_env && enter && leave);
    void *env = init_env();
    EXPECT_EQ(env, TlsGetValue(standin_rte_thread_env_slot())) << "read through the engine's thread-local slot";
    __qex_debug_frame_t frame = {};
    enter(env, &frame, "probe.c");
    void *image = nullptr;
    std::memcpy(&image, static_cast<unsigned char *>(env) + QEX_DBG_ENV_CURRENT_IMAGE, sizeof image);
    EXPECT_EQ(image, static_cast<void *>(m.handle));
    leave(env, &frame);

    /* The helper runtime started: its registry lock exists. */
    EXPECT_EQ(standin_rte_live_locks(), locks_before + 1);

    auto module_atexit = m.function<AtexitFunction>("atexit");
    ASSERT_NE(module_atexit, nullptr);
    EXPECT_EQ(module_atexit(exit_function_a), 0);
    EXPECT_EQ(module_atexit(exit_function_b), 0);
    EXPECT_EQ(standin_rte_atexit_cleanups_registered(), 1) << "one clearing callback, however many registrations";

    standin_rte_lifecycle_log_clear();
    HMODULE handle = m.handle;
    m.unload();
    auto unload_log = lifecycle_log();
    /* The helper's DllMain detaches first (its CloseQEXRTE), then the exit
     * functions run last registered first, then the exit library closes. */
    long detached_at = position_in(unload_log, "CloseQEXRTDll");
    long b_at = position_in(unload_log, "exit function B");
    long a_at = position_in(unload_log, "exit function A");
    long closed_at = position_in(unload_log, "__UnregisterAtExitCleanup");
    EXPECT_GE(detached_at, 0);
    EXPECT_GT(b_at, detached_at);
    EXPECT_GT(a_at, b_at);
    EXPECT_GT(closed_at, a_at);
    EXPECT_EQ(count_in(unload_log, "CloseQEXRTDll"), 1);
    EXPECT_EQ(count_in(unload_log, "__DBG_UnregisterRTEWithDebugger"), 0)
        << "the support library was already released by the helper's detachment";
    EXPECT_EQ(standin_rte_attachment(handle, nullptr), -1);
    EXPECT_EQ(standin_rte_atexit_cleanups_registered(), 0);
    EXPECT_EQ(standin_rte_live_locks(), locks_before);
}

TEST_F(LoaderEntry, SecondAttachmentOnlyReportsAndSecondDetachmentDoesNothing)
{
    ModuleUnderTest m;
    ASSERT_TRUE(m.load());
    auto init_ex = m.function<InitFunction>("InitQEXRTEEx");
    auto init = m.function<int32_t (*)(HINSTANCE)>("InitQEXRTE");
    auto close = m.function<CloseFunction>("CloseQEXRTE");
    ASSERT_TRUE(init_ex && init && close);

    EXPECT_EQ(init_ex(m.handle, nullptr, nullptr), 1);
    EXPECT_EQ(init(m.handle), 1);
    EXPECT_EQ(count_in(lifecycle_log(), "InitQEXRTDll"), 1) << "attached once";

    standin_rte_lifecycle_log_clear();
    close();
    EXPECT_EQ(count_in(lifecycle_log(), "CloseQEXRTDll"), 1);
    EXPECT_EQ(standin_rte_attachment(m.handle, nullptr), -1);
    close();
    m.unload(); /* the helper's and the loader entry's CloseQEXRTE find nothing to do */
    EXPECT_EQ(count_in(lifecycle_log(), "CloseQEXRTDll"), 1);
}

TEST_F(LoaderEntry, RefusedEngineAttachmentRefusesTheLoadWithoutUndoing)
{
    standin_rte_fail_attach_nth(1);
    ModuleUnderTest m;
    EXPECT_FALSE(m.load());
    auto log = lifecycle_log();
    EXPECT_EQ(count_in(log, "InitQEXRTDll"), 1);
    EXPECT_EQ(count_in(log, "CloseQEXRTDll"), 0);
    EXPECT_EQ(count_in(log, "__DBG_RegisterRTEWithDebugger"), 0);
    EXPECT_EQ(standin_rte_attached_count(), 0);
}

TEST_F(LoaderEntry, FailedHelperStartUpUndoesTheAttachment)
{
    long locks_before = standin_rte_live_locks();
    standin_rte_fail_lock_new_nth(1); /* the helper's registry lock */
    ModuleUnderTest m;
    EXPECT_FALSE(m.load());
    auto log = lifecycle_log();
    long attach_at = position_in(log, "InitQEXRTDll");
    long detach_at = position_in(log, "CloseQEXRTDll");
    EXPECT_GE(attach_at, 0);
    EXPECT_GT(detach_at, attach_at);
    EXPECT_GT(position_in(log, "__UnregisterAtExitCleanup"), attach_at) << "the exit library closed";
    EXPECT_EQ(count_in(log, "CloseQEXRTDll"), 1);
    EXPECT_EQ(standin_rte_attached_count(), 0);
    EXPECT_EQ(standin_rte_live_locks(), locks_before);

    /* Nothing is left behind: the next load succeeds. */
    standin_rte_lifecycle_log_clear();
    ASSERT_TRUE(m.load());
    EXPECT_EQ(standin_rte_attached_count(), 1);
}

TEST_F(LoaderEntry, StaticObjectsAreConstructedBeforeAndDestroyedAfterTheModulesWork)
{
    HMODULE probe = LoadLibraryA((exe_directory() + "startup_probe_module.dll").c_str());
    ASSERT_NE(probe, nullptr);
    auto load_log = lifecycle_log();
    long constructed_at = position_in(load_log, "static object constructed");
    EXPECT_GE(constructed_at, 0);
    EXPECT_LT(constructed_at, position_in(load_log, "InitQEXRTDll"));

    standin_rte_lifecycle_log_clear();
    FreeLibrary(probe);
    auto unload_log = lifecycle_log();
    long destroyed_at = position_in(unload_log, "static object destroyed");
    EXPECT_GE(destroyed_at, 0);
    EXPECT_GT(destroyed_at, position_in(unload_log, "CloseQEXRTDll"));
    EXPECT_GT(destroyed_at, position_in(unload_log, "__UnregisterAtExitCleanup"));
    EXPECT_EQ(destroyed_at, static_cast<long>(unload_log.size()) - 1) << "nothing of the module runs after it";
}

TEST(LoaderEntryImage, TheImagesEntryPointIsTheLoaderEntry)
{
    ModuleUnderTest m;
    ASSERT_TRUE(m.load());
    const auto *base = reinterpret_cast<const unsigned char *>(m.handle);
    const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto *nt = reinterpret_cast<const IMAGE_NT_HEADERS64 *>(base + dos->e_lfanew);
    const void *entry = base + nt->OptionalHeader.AddressOfEntryPoint;
    EXPECT_EQ(entry, m.function<void *>("QEXDllMainStartupCodeForDebugging"));
}

/* ---- the outdated-environment warning ---- */

const char kDebugWarningCaption[] = "QEX Debuggable DLL Run-Time Warning";
const char kDebugWarningText[] =
    "The following debuggable DLL was created with QEX 5.5 or greater.  Running\n"
    "this DLL in older versions of QEX may result in non-deterministic behavior and\n"
    "can crash the QEX environment.\n\nDebuggable DLL: ";

TEST(OutdatedEnvironment, OnlyAnOldEnvironmentGetsTheInformationalWarningAndNoQuestion)
{
    struct Case {
        const char *environment; /* fixture folder, or null: no qex.dll */
        bool warned;
    } cases[] = {{"old", true}, {"unversioned", true}, {"current", false}, {nullptr, false}};
    for (const Case &c : cases) {
        const std::string label = c.environment ? c.environment : "no qex.dll";
        HMODULE qex = nullptr;
        if (c.environment) {
            qex = LoadLibraryA((exe_directory() + "fixtures\\qex_environment\\" + c.environment + "\\qex.dll").c_str());
            ASSERT_NE(qex, nullptr) << label;
        }
        ASSERT_EQ(GetModuleHandleA("qex.dll"), qex) << label;
        MessageBoxRecorder boxes(IDYES);
        ModuleUnderTest m;
        ASSERT_TRUE(m.load()) << label << ": the load goes on whatever the answer";

        char path[MAX_PATH];
        GetModuleFileNameA(m.handle, path, sizeof path);
        if (c.warned) {
            ASSERT_EQ(boxes.boxes().size(), 1u) << label;
            EXPECT_EQ(boxes.boxes()[0].caption, kDebugWarningCaption) << label;
            EXPECT_EQ(boxes.boxes()[0].text, std::string(kDebugWarningText) + path) << label;
            EXPECT_EQ(boxes.boxes()[0].type, static_cast<UINT>(MB_OK)) << label << ": informational, no Yes/No";
        } else {
            EXPECT_TRUE(boxes.boxes().empty()) << label;
        }

        /* Asked directly, the module never aborts: only stand-alone images ask. */
        auto used_in_old = m.function<int32_t (*)(HINSTANCE, int32_t *)>("__ImageUsedInOldQEX");
        ASSERT_NE(used_in_old, nullptr);
        int32_t no_further_warning = -1;
        EXPECT_EQ(used_in_old(m.handle, &no_further_warning), 0) << label;
        EXPECT_EQ(no_further_warning, c.warned ? 0 : 1) << label;
        EXPECT_EQ(used_in_old(m.handle, nullptr), 0) << label;
        EXPECT_EQ(boxes.boxes().size(), c.warned ? 1u : 0u) << label << ": no question asked";

        m.unload();
        if (qex) FreeLibrary(qex);
    }
}

/* An image linked for the stand-alone run-time asks instead, and a Yes aborts
 * its load. */
TEST(OutdatedEnvironment, StandAloneImagesAskWhetherToAbortLoading)
{
    HMODULE qex = LoadLibraryA((exe_directory() + "fixtures\\qex_environment\\old\\qex.dll").c_str());
    ASSERT_NE(qex, nullptr);
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string question = std::string(
        "The following DLL was created with QEX 5.5 or greater.  Running this DLL in\n"
        "older versions of QEX may result in non-deterministic behavior and can crash\n"
        "the QEX environment.\n\nDLL: ") + path + "\n\nDo you want to abort loading the DLL?";
    const int32_t image_target = ImageRuntimeTarget;
    ImageRuntimeTarget = 1;
    for (int answer : {IDYES, IDNO}) {
        MessageBoxRecorder boxes(answer);
        int32_t no_further_warning = 0;
        EXPECT_EQ(__ImageUsedInOldQEX(nullptr, &no_further_warning), answer == IDYES ? 1 : 0);
        EXPECT_EQ(no_further_warning, 1);
        ASSERT_EQ(boxes.boxes().size(), 1u);
        EXPECT_EQ(boxes.boxes()[0].caption, "QEX DLL Run-time Warning");
        EXPECT_EQ(boxes.boxes()[0].text, question);
        EXPECT_EQ(boxes.boxes()[0].type, static_cast<UINT>(MB_YESNO));
    }
    ImageRuntimeTarget = image_target;
    FreeLibrary(qex);
}

} // namespace
