/* The debugger message channel of the built module: each message's exact
 * text, its separators where the position list says they are, module
 * registration with its section counts and odd file names, the section table
 * against the image file, and the messages a native debugger receives. */
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include "debugged_child.h"
#include "debugger_fixture.h"
#include "pe_reader.h"

using namespace testing_support;

namespace {

#pragma pack(push, 1)
struct Section {
    void *begin;
    void *end;
    char name[8];
};
#pragma pack(pop)
static_assert(sizeof(Section) == 24);

DebuggedModule g;

std::string hex16(const void *p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

class Messages : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g.load()); }
    void SetUp() override { g.quiet(); }

    /* The one message a call sent through the library. */
    template <typename F>
    static std::string sent_by(F &&call)
    {
        standin_dbg_log_clear();
        call();
        std::vector<std::string> log = debugger_log();
        EXPECT_EQ(log.size(), 1u);
        return log.empty() ? std::string() : log.back();
    }

    static void expect_layout(const std::string &message, const std::vector<int> &positions)
    {
        MessageLayout m = layout_of(message);
        ASSERT_TRUE(m.well_formed) << message;
        EXPECT_EQ(m.positions, positions) << message;
        EXPECT_EQ(m.separators, positions) << "separators in the text: " << message;
    }

    static std::string attach_message(HMODULE owner, const Section *table)
    {
        auto attach = g.hook<void (*)(HMODULE, const Section *)>("__qex_attach_module");
        return sent_by([&] { attach(owner, table); });
    }
};

const std::vector<int> kAttachPositions = {15, 32, 36, 40, 44, 48, 65, 69};

TEST_F(Messages, ModuleAttachAnnouncesHandleConstantsTableCountAndFileName)
{
    Section table[3] = {};
    table[0] = {reinterpret_cast<void *>(0x1000), reinterpret_cast<void *>(0x1800), ".text"};
    table[1] = {reinterpret_cast<void *>(0x2000), reinterpret_cast<void *>(0x2000), ".bss"};
    std::string m = attach_message(g.node.handle, table);
    std::string expected = "@{module_attach|" + hex16(g.node.handle) + "| 15|  5|  0|181|" + hex16(table) + "|  1|" +
                           module_file(g.node.handle) + ":15|32|36|40|44|48|65|69}@";
    EXPECT_EQ(m, expected);
    expect_layout(m, kAttachPositions);
}

TEST_F(Messages, SectionCountsAreThreeCharacters)
{
    struct Case {
        int used, empty;
        const char *field;
    };
    for (const Case &c : {Case{0, 1, "  0"}, Case{0, 0, "  0"}, Case{16, 0, " 16"}, Case{16, 3, " 16"},
                          Case{7, 2, "  7"}}) {
        SCOPED_TRACE(c.field);
        std::vector<Section> table;
        for (int used = 0, empty = 0; used < c.used || empty < c.empty;) {
            auto begin = reinterpret_cast<char *>(0x10000 + 0x1000 * table.size());
            bool take_used = used < c.used && (empty >= c.empty || table.size() % 2 == 0);
            table.push_back({begin, take_used ? begin + 16 : begin, ""});
            (take_used ? used : empty) += 1;
        }
        int counted = 0;
        for (const Section &s : table) counted += s.begin != s.end;
        ASSERT_EQ(counted, c.used) << "the test's table";
        table.push_back({nullptr, nullptr, ""});
        std::string m = attach_message(g.node.handle, table.data());
        EXPECT_EQ(m.substr(66, 3), c.field) << m;
        EXPECT_EQ(m.substr(49, 16), hex16(table.data())) << "the table's address is sent whatever its count";
        expect_layout(m, kAttachPositions);
    }
}

TEST_F(Messages, UnknownModuleIsNamedByItsHandle)
{
    Section table[1] = {};
    auto not_a_module = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7ABC0000));
    std::string m = attach_message(not_a_module, table);
    EXPECT_NE(m.find("|  0|<unknown module " + hex16(not_a_module) + ">:15|"), std::string::npos) << m;
    expect_layout(m, kAttachPositions);
}

/* ---- a file name with ":" and "|": the module's GetModuleFileNameA import is
 * redirected for the duration of one call ---- */

const char kOddPath[] = "C:\\odd|dir:x\\a|b:c.dll";

DWORD WINAPI odd_file_name(HMODULE, LPSTR buffer, DWORD size)
{
    DWORD n = static_cast<DWORD>(std::strlen(kOddPath));
    if (size <= n) return 0;
    std::memcpy(buffer, kOddPath, n + 1);
    return n;
}

/* The import slot of kernel32's GetModuleFileNameA in a loaded module. */
void **import_slot(HMODULE module, const char *dll, const char *name)
{
    auto base = reinterpret_cast<unsigned char *>(module);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS64 *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    IMAGE_DATA_DIRECTORY dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + dir.VirtualAddress); d->Name; ++d) {
        if (_stricmp(reinterpret_cast<char *>(base + d->Name), dll) != 0) continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA64 *>(base + d->OriginalFirstThunk);
        auto slots = reinterpret_cast<void **>(base + d->FirstThunk);
        for (size_t i = 0; names[i].u1.AddressOfData; ++i) {
            if (IMAGE_SNAP_BY_ORDINAL64(names[i].u1.Ordinal)) continue;
            auto by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names[i].u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char *>(by_name->Name), name) == 0) return &slots[i];
        }
    }
    return nullptr;
}

TEST_F(Messages, FileNameWithColonAndBarIsSentUnchangedBeforeThePositions)
{
    void **slot = import_slot(g.node.handle, "kernel32.dll", "GetModuleFileNameA");
    ASSERT_NE(slot, nullptr);
    DWORD protection = 0;
    ASSERT_TRUE(VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection));
    void *original = *slot;
    *slot = reinterpret_cast<void *>(&odd_file_name);
    Section table[1] = {};
    std::string m = attach_message(g.node.handle, table);
    *slot = original;
    VirtualProtect(slot, sizeof *slot, protection, &protection);

    EXPECT_EQ(m.substr(70, std::strlen(kOddPath)), kOddPath) << m;
    MessageLayout layout = layout_of(m);
    ASSERT_TRUE(layout.well_formed) << m;
    EXPECT_EQ(layout.positions, kAttachPositions);
    for (int p : layout.positions) EXPECT_EQ(m[static_cast<size_t>(p)], '|') << p;
    EXPECT_EQ(m.substr(m.size() - 26), ":15|32|36|40|44|48|65|69}@");
}

TEST_F(Messages, ALongFileNameNeverCutsOffThePositionList)
{
    /* A name long enough that formatting everything at once would pass 1024 characters. */
    static std::string long_name = "C:\\" + std::string(1500, 'n') + ".dll";
    static auto long_file_name = [](HMODULE, LPSTR buffer, DWORD size) -> DWORD {
        if (size <= long_name.size()) return 0;
        std::memcpy(buffer, long_name.c_str(), long_name.size() + 1);
        return static_cast<DWORD>(long_name.size());
    };
    static DWORD(WINAPI * hook)(HMODULE, LPSTR, DWORD) = long_file_name;
    void **slot = import_slot(g.node.handle, "kernel32.dll", "GetModuleFileNameA");
    ASSERT_NE(slot, nullptr);
    DWORD protection = 0;
    ASSERT_TRUE(VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection));
    void *original = *slot;
    *slot = reinterpret_cast<void *>(hook);
    Section table[1] = {};
    std::string m = attach_message(g.node.handle, table);
    *slot = original;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    EXPECT_NE(m.find(long_name + ":15|32|36|40|44|48|65|69}@"), std::string::npos);
}

TEST_F(Messages, FixedMessagesOfTheChannel)
{
    auto detach = g.hook<void (*)(HMODULE)>("__qex_detach_module");
    auto send = g.hook<void (*)(const char *)>("__qex_send_message");
    ASSERT_TRUE(detach && send);
    std::string m = sent_by([&] { detach(g.node.handle); });
    EXPECT_EQ(m, "@{module_detach|" + hex16(g.node.handle) + ":15}@");
    expect_layout(m, {15});

    char buffer[] = "@{update_watchpoints:}@";
    m = sent_by([&] { send(buffer); });
    EXPECT_EQ(m, buffer) << "the channel passes a message on unchanged";
    expect_layout(m, {});
}

TEST_F(Messages, RealTimeMainEntryAndExit)
{
    auto enter = g.hook<void (*)(void *, void *, uint32_t, void *)>("__qex_pharlap_enter_rtmain");
    auto leave = g.hook<void (*)(void *, void *, uint32_t, void *)>("__qex_pharlap_leave_rtmain");
    auto owner = g.hook<HMODULE *>("__qex_module_owner");
    ASSERT_TRUE(enter && leave && owner);
    auto handle = reinterpret_cast<void *>(static_cast<uintptr_t>(0xFEDCBA9876543210ull));
    void *function = reinterpret_cast<void *>(&Messages::SetUpTestSuite);
    int seh_info = 0;
    for (uint32_t id : {0u, 42u, 4294967295u}) {
        SCOPED_TRACE(id);
        standin_dbg_log_clear();
        enter(function, &seh_info, id, handle);
        leave(function, &seh_info, id, handle);
        std::vector<std::string> log = debugger_log();
        ASSERT_EQ(log.size(), 4u) << testing::PrintToString(log);
        std::string tail = "|" + hex16(*owner) + "|" + hex16(handle) + "|" + std::to_string(id) + ":14|31|48}@";
        EXPECT_EQ(log[0].rfind("attach function=", 0), 0u) << log[0];
        EXPECT_EQ(log[1], "@{rtmain_enter" + tail);
        EXPECT_EQ(log[2], "@{rtmain_leave" + tail);
        EXPECT_EQ(log[3].rfind("detach function=", 0), 0u) << log[3];
        expect_layout(log[1], {14, 31, 48});
        expect_layout(log[2], {14, 31, 48});
        EXPECT_LE(log[1].size(), 70u);
    }
}

TEST_F(Messages, InteractiveWindowLoadAnnouncesItsEntry)
{
    auto iw_load = g.hook<void (*)(void *, void *)>("__qex_iw_load");
    auto call_message = g.hook<char *>("__qex_call_message");
    ASSERT_TRUE(iw_load && call_message);
    struct Case {
        std::string path;
        bool announces;
    };
    std::string dir = exe_directory();
    for (const Case &c : {Case{dir + "fixtures\\interactive_window\\interactive_window.dll", true},
                          Case{dir + "gwrt.dll", false}, Case{dir + "no_such_library.dll", false}}) {
        SCOPED_TRACE(c.path);
        standin_dbg_log_clear();
        std::strcpy(call_message, c.path.c_str());
        iw_load(nullptr, nullptr);
        std::vector<std::string> log = debugger_log();
        ASSERT_EQ(log.size(), c.announces ? 1u : 0u);
        if (!c.announces) continue;
        HMODULE loaded = GetModuleHandleA(c.path.c_str());
        ASSERT_NE(loaded, nullptr) << "the library stays loaded";
        void *entry = reinterpret_cast<void *>(GetProcAddress(loaded, "InteractiveWindow"));
        EXPECT_EQ(log[0], "@{iw|main|" + hex16(entry) + ":4|9}@");
        EXPECT_STREQ(call_message, log[0].c_str()) << "the reply is left in the buffer";
        expect_layout(log[0], {4, 9});
    }
}

TEST_F(Messages, ExecutionStateLabels)
{
    auto exe_state = g.hook<void (*)(char *)>("__qex_get_exe_state");
    ASSERT_NE(exe_state, nullptr);
    const char *labels[] = {"continue", "into", "next", "out", "over", "continue", "continue"};
    for (uint8_t type = 0; type < 7; ++type) {
        g.control->single_step_flag = type;
        char label[16];
        std::memset(label, 'x', sizeof label);
        exe_state(label);
        EXPECT_STREQ(label, labels[type]);
    }
    g.control->single_step_flag = 0;
}

/* The section table, read by its symbol before the module is asked for it,
 * against the image file's own headers: the link built it. */
TEST_F(Messages, SectionTableListsTheImageInOrderWithoutRelocations)
{
    auto filled = g.hook<Section *(*)(void)>("__qex_project_sections_filled");
    Section *table = g.hook<Section *>("__qex_project_sections");
    ASSERT_TRUE(filled && table);

    auto base = reinterpret_cast<unsigned char *>(g.node.handle);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS64 *>(base + reinterpret_cast<IMAGE_DOS_HEADER *>(base)->e_lfanew);
    IMAGE_SECTION_HEADER *headers = IMAGE_FIRST_SECTION(nt);
    /* Long names from the objdump-style listing of the file's string table. */
    std::ifstream file(module_file(g.node.handle), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    size_t strings = nt->FileHeader.PointerToSymbolTable + nt->FileHeader.NumberOfSymbols * 18ull;

    size_t row = 0;
    bool saw_debug_info = false;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const IMAGE_SECTION_HEADER &h = headers[i];
        std::string name(reinterpret_cast<const char *>(h.Name), strnlen(reinterpret_cast<const char *>(h.Name), 8));
        if (name[0] == '/') name = std::string(bytes.data() + strings + std::stoul(name.substr(1)));
        if (name == ".reloc") continue;
        SCOPED_TRACE(name);
        const Section &s = table[row++];
        EXPECT_EQ(s.begin, base + h.VirtualAddress);
        EXPECT_EQ(s.end, base + h.VirtualAddress + h.Misc.VirtualSize);
        EXPECT_EQ(std::string(s.name, strnlen(s.name, 8)), name.substr(0, 8));
        saw_debug_info = saw_debug_info || name == ".debug_info";
    }
    EXPECT_EQ(table[row].begin, nullptr) << "the table ends after the image's sections";
    EXPECT_TRUE(saw_debug_info) << "the image carries debug information";
    EXPECT_GE(row, 8u);
    EXPECT_EQ(filled(), table);
}

/* ---- what a native debugger sees, without the debugger library ---- */

std::string child() { return "\"" + exe_directory() + "support_native_child.exe\""; }

TEST(NativeDebugger, EchoOfStandardOutput)
{
    DebuggedRun run = run_debugged(child() + " echo hello");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 0u);
    std::vector<std::string> echoes;
    for (const std::string &s : run.debug_strings)
        if (s.rfind("@{echo_stdio|", 0) == 0) echoes.push_back(s);
    ASSERT_EQ(echoes.size(), 1u);
    MessageLayout m = layout_of(echoes[0]);
    EXPECT_EQ(m.positions, (std::vector<int>{12, 29}));
    EXPECT_EQ(m.separators, m.positions);
    EXPECT_EQ(echoes[0].substr(30), "5:12|29}@");
}

TEST(NativeDebugger, NodeCallAnnouncesTheModuleAndItsRemoval)
{
    DebuggedRun run = run_debugged(child() + " node");
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.exit_code, 0u);
    std::vector<std::string> attaches, detaches;
    for (const std::string &s : run.debug_strings) {
        if (s.rfind("@{module_attach|", 0) == 0) attaches.push_back(s);
        if (s.rfind("@{module_detach|", 0) == 0) detaches.push_back(s);
    }
    ASSERT_FALSE(attaches.empty()) << "every export announces the module on entry";
    EXPECT_EQ(attaches.size(), detaches.size()) << "and its removal on exit";
    for (const std::string &a : attaches) {
        MessageLayout m = layout_of(a);
        EXPECT_EQ(m.positions, kAttachPositions) << a;
        EXPECT_NE(a.find("parse_measurement.dll:15|"), std::string::npos) << a;
        EXPECT_NE(a.substr(66, 3), "  0") << "the image has sections";
    }
    for (const std::string &d : detaches) EXPECT_EQ(layout_of(d).positions, std::vector<int>{15});
}

} // namespace
