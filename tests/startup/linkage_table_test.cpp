/* The linkage table: 20-byte records in strcmp order without repeats, its
 * count matching its records, the module's own atexit and exit under those
 * names, Windows functions as their import stubs, and every record of the
 * built DLL's table found by the engine's binary search by name. */
#include <gtest/gtest.h>
#include <windows.h>
#include <cstring>
#include <set>
#include <string>
#include "cnode_startup.h"
#include "startup_test_support.h"

using namespace startup_testing;

namespace {

void expect_well_formed(const __QEX_LinkageRecord *table, int32_t count, const char *which)
{
    ASSERT_GT(count, 0) << which;
    /* The names follow the records: the first name starts right after the
     * last record, so the count is exactly the number of records. */
    const char *names_start = reinterpret_cast<const char *>(table + count);
    const char *lowest_name = table[0].name;
    for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(table[i].kind, 1) << which << ": " << table[i].name;
        EXPECT_NE(table[i].address, nullptr) << which << ": " << table[i].name;
        if (table[i].name < lowest_name) lowest_name = table[i].name;
        if (i > 0) {
            EXPECT_LT(std::strcmp(table[i - 1].name, table[i].name), 0) << which << ": " << table[i].name;
        }
    }
    EXPECT_EQ(lowest_name, names_start) << which;
}

const __QEX_LinkageRecord *find(const __QEX_LinkageRecord *table, int32_t count, const char *name)
{
    for (int32_t i = 0; i < count; ++i)
        if (std::strcmp(table[i].name, name) == 0) return &table[i];
    return nullptr;
}

TEST(LinkageTable, RecordsArePackedSortedUniqueAndCounted)
{
    static_assert(sizeof(__QEX_LinkageRecord) == 20);
    expect_well_formed(__QEX_LinkageTable, __QEX_LinkageTableCount, "static library");
}

TEST(LinkageTable, ListsTheModulesAtexitAndExitUnderTheirCNames)
{
    const auto *table = __QEX_LinkageTable;
    const int32_t count = __QEX_LinkageTableCount;
    const auto *atexit_row = find(table, count, "atexit");
    const auto *exit_row = find(table, count, "exit");
    ASSERT_TRUE(atexit_row && exit_row);
    EXPECT_EQ(atexit_row->address, reinterpret_cast<void *>(&__QEX_LinkName_atexit));
    EXPECT_EQ(exit_row->address, reinterpret_cast<void *>(&__QEX_LinkName_exit));
    EXPECT_NE(atexit_row->address, reinterpret_cast<void *>(&::atexit)) << "not the C runtime's";
    EXPECT_EQ(find(table, count, "__QEX_LinkName_atexit"), nullptr);
    EXPECT_EQ(find(table, count, "__QEX_LinkName_exit"), nullptr);

    const auto *chkstk = find(table, count, "__chkstk");
    const auto *alloca_probe = find(table, count, "_alloca_probe");
    ASSERT_TRUE(chkstk && alloca_probe);
    EXPECT_EQ(chkstk->address, alloca_probe->address);
}

TEST(LinkageTable, WindowsFunctionsAreListedAsTheirImportStubs)
{
    struct Row {
        const char *name, *library;
    } rows[] = {{"GetProcAddress", "kernel32.dll"},     {"GetModuleHandleA", "kernel32.dll"},
                {"OutputDebugStringA", "kernel32.dll"}, {"IsDebuggerPresent", "kernel32.dll"},
                {"InitOnceExecuteOnce", "kernel32.dll"}, {"TlsGetValue", "kernel32.dll"},
                {"wsprintfA", "user32.dll"}};
    for (const Row &r : rows) {
        const auto *row = find(__QEX_LinkageTable, __QEX_LinkageTableCount, r.name);
        ASSERT_NE(row, nullptr) << r.name;
        /* An import stub is "jmp *slot(%rip)": FF 25 and a 32-bit displacement to
         * the import slot, which holds the function's address. */
        const auto *code = static_cast<const unsigned char *>(row->address);
        ASSERT_EQ(code[0], 0xFF) << r.name;
        ASSERT_EQ(code[1], 0x25) << r.name;
        int32_t displacement;
        std::memcpy(&displacement, code + 2, sizeof displacement);
        void *const *slot = reinterpret_cast<void *const *>(code + 6 + displacement);
        EXPECT_EQ(*slot, reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA(r.library), r.name))) << r.name;
    }
}

TEST(LinkageTable, TheEngineFindsEveryFunctionOfTheLoadedModuleByName)
{
    ModuleUnderTest m;
    ASSERT_TRUE(m.load());
    standin_rte_attachment_t a = {};
    ASSERT_EQ(standin_rte_attachment(m.handle, &a), 0);
    const auto *table = static_cast<const __QEX_LinkageRecord *>(a.linkage_table);
    expect_well_formed(table, a.linkage_count, "DLL");
    for (int32_t i = 0; i < a.linkage_count; ++i)
        EXPECT_EQ(m.function<void *>(table[i].name), table[i].address) << table[i].name;

    /* Functions the environment and the debugger look for, of every part. */
    const char *wanted[] = {"QEXDllMainStartupCodeForDebugging", "InitQEXRTEEx", "CloseQEXRTE", "atexit", "exit",
                            "__DBG_InitDebugImage", "__DBG_EnterFunction", "__qex_debug_message",
                            "__qex_exception_handler", "_InterlockedCompareExchange", "__chkstk",
                            "__cnode_EntryPoint", "__cnode_helper_initialize", "__cnode_GetCStr",
                            "__qex_stoppoint", "__qex_send_message", "ListCreate", "HashTableCreate",
                            "GetProcAddress", "wsprintfA"};
    for (const char *name : wanted) {
        void *address = m.function<void *>(name);
        EXPECT_NE(address, nullptr) << name;
    }
    EXPECT_EQ(m.function<void *>("DllMain"), nullptr);
    EXPECT_EQ(m.function<void *>("no_such_function"), nullptr);
}

} // namespace
