/* Platform shims: the interlocked operations as the module's own functions
 * (found by name in its linkage table), the x87 precision, the late-bound
 * kernel32 wrappers and their one-time binding under the per-process mutex,
 * the stack probe, the engine-presence test, side-by-side loading and the
 * late-bound message box. */
#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>
#include "cnode_startup.h"
#include "standin_rte.h"
#include "startup_test_support.h"

using namespace startup_testing;

namespace {

/* ---- interlocked operations ---- */

class Interlocked : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(module().load()); }
    static void TearDownTestSuite() { module().unload(); }
    static ModuleUnderTest &module()
    {
        static ModuleUnderTest m;
        return m;
    }
    template <typename T> static T op(const char *name)
    {
        T f = module().function<T>(name);
        EXPECT_NE(f, nullptr) << name;
        return f;
    }
};

typedef long (*Op32)(volatile long *, long);
typedef int64_t (*Op64)(volatile int64_t *, int64_t);
typedef long (*Cas32)(volatile long *, long, long);
typedef short (*Cas16)(volatile short *, short, short);
typedef int64_t (*Cas64)(volatile int64_t *, int64_t, int64_t);
typedef void *(*CasPointer)(void *volatile *, void *, void *);
typedef void *(*ExchangePointer)(void *volatile *, void *);
typedef long (*Step32)(volatile long *);
typedef short (*Step16)(volatile short *);
typedef int64_t (*Step64)(volatile int64_t *);

TEST_F(Interlocked, TwoOperandOperationsReturnTheOldValue)
{
    struct Case32 {
        const char *name;
        long start, operand, result, after;
    } cases32[] = {
        {"_InterlockedAnd", 0xC, 0xA, 0xC, 0x8},
        {"_InterlockedOr", 0xC, 0xA, 0xC, 0xE},
        {"_InterlockedXor", 0xC, 0xA, 0xC, 0x6},
        {"_InterlockedExchange", 5, -9, 5, -9},
        {"_InterlockedExchangeAdd", 5, 3, 5, 8},
        {"_InterlockedExchangeAdd", LONG_MAX, 1, LONG_MAX, LONG_MIN}, /* wraps */
    };
    for (const Case32 &c : cases32) {
        volatile long v = c.start;
        EXPECT_EQ(op<Op32>(c.name)(&v, c.operand), c.result) << c.name;
        EXPECT_EQ(v, c.after) << c.name;
    }
    const int64_t high = INT64_C(0x0F00000000000000);
    struct Case64 {
        const char *name;
        int64_t start, operand, result, after;
    } cases64[] = {
        {"_InterlockedAnd64", high | 0xC, high | 0xA, high | 0xC, high | 0x8},
        {"_InterlockedOr64", high | 0xC, 0xA, high | 0xC, high | 0xE},
        {"_InterlockedXor64", high | 0xC, high | 0xA, high | 0xC, 0x6},
        {"_InterlockedExchange64", high, 7, high, 7},
        {"_InterlockedExchangeAdd64", high, high, high, INT64_C(0x1E00000000000000)},
        {"_InterlockedExchangeAdd64", INT64_MAX, 1, INT64_MAX, INT64_MIN}, /* wraps */
    };
    for (const Case64 &c : cases64) {
        volatile int64_t v = c.start;
        EXPECT_EQ(op<Op64>(c.name)(&v, c.operand), c.result) << c.name;
        EXPECT_EQ(v, c.after) << c.name;
    }
}

TEST_F(Interlocked, CompareExchangeStoresOnlyOnAMatch)
{
    for (bool match : {true, false}) {
        volatile long v32 = 10;
        EXPECT_EQ(op<Cas32>("_InterlockedCompareExchange")(&v32, 20, match ? 10 : 11), 10);
        EXPECT_EQ(v32, match ? 20 : 10);
        volatile short v16 = -3;
        EXPECT_EQ(op<Cas16>("_InterlockedCompareExchange16")(&v16, 4, match ? -3 : 3), -3);
        EXPECT_EQ(v16, match ? 4 : -3);
        volatile int64_t v64 = INT64_C(1) << 40;
        EXPECT_EQ(op<Cas64>("_InterlockedCompareExchange64")(&v64, 1, match ? INT64_C(1) << 40 : 0), INT64_C(1) << 40);
        EXPECT_EQ(v64, match ? 1 : INT64_C(1) << 40);
        int a = 0, b = 0;
        void *volatile p = &a;
        EXPECT_EQ(op<CasPointer>("_InterlockedCompareExchangePointer")(&p, &b, match ? &a : &b), &a);
        EXPECT_EQ(p, match ? &b : &a);
    }
    int a = 0, b = 0;
    void *volatile p = &a;
    EXPECT_EQ(op<ExchangePointer>("_InterlockedExchangePointer")(&p, &b), &a);
    EXPECT_EQ(p, &b);
}

TEST_F(Interlocked, IncrementAndDecrementReturnTheNewValue)
{
    volatile long v32 = 1;
    EXPECT_EQ(op<Step32>("_InterlockedDecrement")(&v32), 0);
    EXPECT_EQ(op<Step32>("_InterlockedDecrement")(&v32), -1);
    EXPECT_EQ(op<Step32>("_InterlockedIncrement")(&v32), 0);
    v32 = LONG_MAX;
    EXPECT_EQ(op<Step32>("_InterlockedIncrement")(&v32), LONG_MIN);
    volatile short v16 = SHRT_MAX;
    EXPECT_EQ(op<Step16>("_InterlockedIncrement16")(&v16), SHRT_MIN);
    EXPECT_EQ(op<Step16>("_InterlockedDecrement16")(&v16), SHRT_MAX);
    volatile int64_t v64 = INT64_C(1) << 32;
    EXPECT_EQ(op<Step64>("_InterlockedDecrement64")(&v64), (INT64_C(1) << 32) - 1);
    EXPECT_EQ(op<Step64>("_InterlockedIncrement64")(&v64), INT64_C(1) << 32);
}

TEST_F(Interlocked, ConcurrentUpdatesLoseNothing)
{
    auto increment = op<Step32>("_InterlockedIncrement");
    auto set_bits = op<Op64>("_InterlockedOr64");
    auto add = op<Op64>("_InterlockedExchangeAdd64");
    volatile long count = 0;
    volatile int64_t bits = 0, sum = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                increment(&count);
                add(&sum, 3);
            }
            for (int bit = t; bit < 64; bit += 8) set_bits(&bits, INT64_C(1) << bit);
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(count, 8 * 20000);
    EXPECT_EQ(sum, 8 * 20000 * 3);
    EXPECT_EQ(static_cast<uint64_t>(bits), ~UINT64_C(0));
}

/* ---- x87 precision ---- */

uint16_t x87_control_word()
{
    uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

void set_x87_control_word(uint16_t word) { __asm__ volatile("fldcw %0" : : "m"(word)); }

TEST(X87Precision, SetsDoublePrecisionKeepingMasksAndRounding)
{
    const uint16_t original = x87_control_word();
    struct Case {
        uint16_t before, after;
    } cases[] = {{0x037F, 0x027F}, {0x0F7F, 0x0E7F}, {0x007F, 0x027F}, {0x027F, 0x027F}, {0xF37F, 0x027F}};
    for (const Case &c : cases) {
        set_x87_control_word(c.before);
        QEX_Set387PrecisionToDouble();
        EXPECT_EQ(x87_control_word(), c.after) << std::hex << c.before;
    }
    set_x87_control_word(original);
}

/* ---- late-bound kernel32 wrappers ---- */

TEST(SdkStubs, BindKernel32OnceUnderThePerProcessMutex)
{
    if (SdkKernel32) GTEST_SKIP() << "kernel32 was bound earlier in this process";
    char name[64];
    snprintf(name, sizeof name, "Tamberlane Corvane Startup SDK stubs %lu", GetCurrentProcessId());

    /* Another party holds the mutex: both first callers wait for it. */
    HANDLE held = CreateEventA(nullptr, TRUE, FALSE, nullptr), release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread holder([&] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
        SetEvent(held);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    WaitForSingleObject(held, INFINITE);
    std::atomic<int> done{0};
    UINT acp[2] = {};
    std::thread first([&] { acp[0] = __QEX_SDK_GetACP(), ++done; });
    std::thread second([&] { acp[1] = __QEX_SDK_GetACP(), ++done; });
    Sleep(200);
    EXPECT_EQ(done, 0) << "binding waits for the mutex";
    SetEvent(release);
    first.join();
    second.join();
    holder.join();
    EXPECT_EQ(acp[0], GetACP());
    EXPECT_EQ(acp[1], GetACP());
    EXPECT_EQ(SdkKernel32, GetModuleHandleA("kernel32.dll"));

    /* Bound for good: later calls no longer touch the mutex. */
    ResetEvent(held);
    ResetEvent(release);
    std::thread holder_again([&] {
        HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
        SetEvent(held);
        WaitForSingleObject(release, INFINITE);
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    WaitForSingleObject(held, INFINITE);
    CPINFO info = {};
    EXPECT_TRUE(__QEX_SDK_GetCPInfo(GetACP(), &info));
    SetEvent(release);
    holder_again.join();
    CloseHandle(held);
    CloseHandle(release);
}

TEST(SdkStubs, ForwardToKernel32)
{
    CPINFO mine = {}, theirs = {};
    ASSERT_TRUE(__QEX_SDK_GetCPInfo(437, &mine));
    ASSERT_TRUE(GetCPInfo(437, &theirs));
    EXPECT_EQ(memcmp(&mine, &theirs, sizeof mine), 0);
    EXPECT_FALSE(__QEX_SDK_GetCPInfo(0xFFFF, &mine)) << "an unknown code page";

    char name[64];
    snprintf(name, sizeof name, "startup shims mapping %lu", GetCurrentProcessId());
    HANDLE mapping = __QEX_SDK_CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, name);
    ASSERT_NE(mapping, nullptr);
    auto *view = static_cast<volatile int32_t *>(__QEX_SDK_MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    view[10] = 77;
    HANDLE same = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
    auto *other = static_cast<const int32_t *>(MapViewOfFile(same, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(other[10], 77);
    UnmapViewOfFile(other);
    CloseHandle(same);
    EXPECT_TRUE(__QEX_SDK_UnmapViewOfFile(const_cast<int32_t *>(view)));
    EXPECT_FALSE(__QEX_SDK_UnmapViewOfFile(const_cast<int32_t *>(view))) << "already unmapped";
    CloseHandle(mapping);
}

TEST(SdkStubsDeathTest, ExitProcessEndsTheProcessWithTheCode)
{
    EXPECT_EXIT(__QEX_SDK_ExitProcess(3), ::testing::ExitedWithCode(3), "");
}

/* ---- the stack probe ---- */

/* Calls the probe with rax = size and checks that it kept every register,
 * then moves the stack pointer by size and writes at the new bottom, the
 * way a function with a large frame does. Returns the number of registers
 * changed (0 when all kept). */
extern "C" int probe_and_touch(void *probe, uint64_t size)
{
    int changed = 0;
    __asm__ volatile(
        "movq %[size], %%rax\n\t"
        "movq $0x1111, %%rcx\n\t"
        "movq $0x2222, %%rdx\n\t"
        "movq $0x3333, %%r8\n\t"
        "movq $0x4444, %%r9\n\t"
        "movq $0x5555, %%r10\n\t"
        "movq $0x6666, %%r11\n\t"
        "movq %%rsp, %%rsi\n\t"
        "callq *%[probe]\n\t"
        "xorl %[changed], %[changed]\n\t"
        "cmpq %[size], %%rax\n\t    setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x1111, %%rcx\n\t    setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x2222, %%rdx\n\t    setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x3333, %%r8\n\t     setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x4444, %%r9\n\t     setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x5555, %%r10\n\t    setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq $0x6666, %%r11\n\t    setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "cmpq %%rsp, %%rsi\n\t      setne %%dil\n\t movzbl %%dil, %%edi\n\t addl %%edi, %[changed]\n\t"
        "subq %%rax, %%rsp\n\t"
        "movq $1, (%%rsp)\n\t"
        "addq %%rax, %%rsp\n\t"
        : [changed] "=&b"(changed)
        : [probe] "m"(probe), [size] "r"(size)
        : "rax", "rcx", "rdx", "rsi", "rdi", "r8", "r9", "r10", "r11", "cc", "memory");
    return changed;
}

/* (Wine commits a thread's whole stack, so the order in which the probe
 * touches the pages cannot be seen here; its contract with the caller can.) */
TEST(StackProbe, KeepsEveryRegisterAndLetsALargeFrameBeUsed)
{
    ModuleUnderTest m;
    ASSERT_TRUE(m.load());
    void *chkstk = m.function<void *>("__chkstk");
    ASSERT_NE(chkstk, nullptr);
    EXPECT_EQ(m.function<void *>("_alloca_probe"), chkstk) << "one routine under both names";
    for (uint64_t size : {UINT64_C(0), UINT64_C(24), UINT64_C(4096), UINT64_C(5000), UINT64_C(200000)}) {
        int changed = -1;
        /* A fresh thread, with a stack of a known size. */
        HANDLE thread = CreateThread(
            nullptr, 1 << 20,
            [](void *p) -> DWORD {
                auto *args = static_cast<std::pair<void *, uint64_t> *>(p);
                return static_cast<DWORD>(probe_and_touch(args->first, args->second));
            },
            new std::pair<void *, uint64_t>(chkstk, size), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        ASSERT_NE(thread, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 0;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        changed = static_cast<int>(code);
        EXPECT_EQ(changed, 0) << "size " << size;
    }
}

/* ---- the engine-presence test ---- */

TEST(EnginePresence, FollowsThePublishedFlagOfTheSupportLibrary)
{
    struct Case {
        const char *name;
        int32_t answer;
        int published_flag; /* -1: nothing published */
        int32_t detached, still_loaded;
    } cases[] = {
        {"host engine, attached", 2, 0, 0, 1},
        {"host engine, flag set: never treated as gone", 2, 1, 1, 1},
        {"host engine, nothing published", 2, -1, 1, 1},
        {"stand-alone engine, attached", 3, 0, 0, 1},
        {"stand-alone engine, detached", 3, 1, 1, 0},
        {"stand-alone engine, nothing published", 3, -1, 1, 0},
        {"instrument support, attached", 1, 0, 0, 1},
        {"instrument support, detached", 1, 1, 1, 0},
    };
    for (const Case &c : cases) {
        standin_rte_set_support_dll_answer(c.answer);
        if (c.published_flag < 0)
            standin_rte_withdraw_detached_flag();
        else
            standin_rte_set_detached(c.published_flag);
        EXPECT_EQ(QEXRTEHasBeenDetached(), c.detached) << c.name;
        EXPECT_EQ(QEXRTEHasBeenDetached(), c.detached) << c.name << ": nothing is held between calls";
        EXPECT_EQ(__IsRuntimeDllStillLoaded(), c.still_loaded) << c.name;
    }
    standin_rte_set_support_dll_answer(2);
}

/* ---- side-by-side loading, the engine's handle, the message box ---- */

TEST(SideBySide, LoadsAndFindsLibrariesLikeTheLoader)
{
    HMODULE engine = GetModuleHandleA("qex_gwrt.dll");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(__QEX__GetModuleHandleSxS("qex_gwrt.dll"), engine);
    EXPECT_EQ(__QEX_Internal_Linkage_HModule(), engine) << "this image is linked for qex_gwrt.dll";
    EXPECT_EQ(__QEX__GetModuleHandleSxS("qexdebug.dll"), nullptr);
    HMODULE loaded = __QEX__LoadLibrarySxS("qex_gwrt.dll");
    EXPECT_EQ(loaded, engine);
    if (loaded) FreeLibrary(loaded);
    EXPECT_EQ(__QEX__LoadLibrarySxS("no_such_library_here.dll"), nullptr);
}

TEST(MessagePopup, ShowsTheBoxAndReturnsItsAnswer)
{
    MessageBoxRecorder boxes(IDNO);
    EXPECT_EQ(__QEX_Startup_MessagePopup("Caption", "Text", MB_YESNO), IDNO);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].caption, "Caption");
    EXPECT_EQ(boxes.boxes()[0].text, "Text");
    EXPECT_EQ(boxes.boxes()[0].type, static_cast<UINT>(MB_YESNO));
}

/* ---- attachment from program code ---- */

TEST(Attachment, ProgramCodeAttachesTheExecutableAndSetsThePlatformState)
{
    standin_rte_lifecycle_log_clear();
    uint16_t original = x87_control_word();
    set_x87_control_word(0x037F);
    ASSERT_EQ(InitQEXRTEEx(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ModuleInstance, GetModuleHandleA(nullptr)) << "a null module stands for the executable";
    EXPECT_EQ(x87_control_word(), 0x027F);
    CPINFO info = {};
    GetCPInfo(GetACP(), &info);
    EXPECT_EQ(MultiByteCodePage, info.LeadByte[0] || info.LeadByte[1] ? static_cast<int32_t>(GetACP()) : 0);
    standin_rte_attachment_t a = {};
    ASSERT_EQ(standin_rte_attachment(GetModuleHandleA(nullptr), &a), 0);
    EXPECT_EQ(a.linkage_table, static_cast<const void *>(__QEX_LinkageTable));
    EXPECT_EQ(a.linkage_count, __QEX_LinkageTableCount);
    CloseQEXRTE();
    EXPECT_EQ(RuntimeInitialized, 0);
    EXPECT_EQ(RuntimeSupportLibrary, nullptr);
    _CloseExitLib();
    set_x87_control_word(original);
}

} // namespace
