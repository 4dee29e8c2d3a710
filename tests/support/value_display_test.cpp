/* The value displays of the built module, run as the debugger runs them: the
 * tables found by their private symbols, each display called on a thread held
 * at a stoppoint, the answer read from its smart_type message. Every run also
 * checks that the engine's break-on switches were off during the engine calls
 * it made and read as before afterwards, and that a text answer lies in the
 * module's own memory (readable after the display returned). An unmapped
 * variable or list must get no answer with the switches restored: a fault
 * inside a display would end it with the switches still off. */
#include <gtest/gtest.h>
#include <cstring>
#include <ctime>
#include <functional>
#include <thread>
#include "debugger_fixture.h"
#include "smart_types.h"
#include "standin_rte.h"

using namespace testing_support;

namespace {

DebuggedModule g;

/* An address no process maps: a display handed it must not read it. */
const void *const kUnmapped = reinterpret_cast<const void *>(static_cast<uintptr_t>(0x10));

template <typename T>
T engine(const char *name)
{
    return export_of<T>(GetModuleHandleA("qex_gwrt.dll"), name);
}

struct Expect {
    enum Kind { Nothing, Text, Address, Count } kind = Nothing;
    std::string text;
    const void *address = nullptr;
};
Expect nothing() { return {}; }
Expect text(std::string t) { return {Expect::Text, std::move(t), nullptr}; }
Expect at(const void *p) { return {Expect::Address, {}, p}; }
Expect count(size_t n) { return {Expect::Count, {}, reinterpret_cast<const void *>(n)}; }

struct Case {
    std::string label;
    const char *type; /* the type's name row */
    int property;     /* which of its functions */
    const void *variable;
    intptr_t index;
    Expect expected;
};

const char *kUnits[] = {"rte_smarttypes", "toolbox_supp"};

/* The function the tables list for a type's property, as the debugger picks it. */
const void *display_function(const char *type, int property)
{
    for (const char *unit : kUnits) {
        size_t rows = 0;
        auto table = static_cast<const __qex_smart_type_t *>(standin_dbg_smart_type_table(g.node.handle, unit, &rows));
        bool inside = false;
        for (size_t i = 0; table && i < rows; ++i) {
            if (table[i].property == QEX_SMART_TYPE_NAME) inside = std::strcmp(static_cast<const char *>(table[i].value), type) == 0;
            else if (inside && table[i].property == property) return table[i].value;
        }
    }
    return nullptr;
}

bool in_module(const void *p)
{
    MEMORY_BASIC_INFORMATION info{};
    return VirtualQuery(p, &info, sizeof info) && info.AllocationBase == g.node.handle;
}

class ValueDisplays : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(g.load()); }
    void SetUp() override
    {
        g.quiet();
        byte_ = 1;
        node_ = std::make_unique<Runner>([this] { g.stoppoint(&byte_); });
        ASSERT_EQ(standin_dbg_wait_stop(kArrivalTimeoutMs, &stop_), 1) << "the thread was not held";
        standin_rte_display_switches_seen();
    }
    void TearDown() override
    {
        byte_ = 0;
        node_.reset();
        g.quiet();
    }

    void check(const std::vector<Case> &cases)
    {
        static const int kPatterns[][3] = {{1, 1, 1}, {1, 0, 1}, {0, 1, 0}};
        for (size_t n = 0; n < cases.size(); ++n) {
            const Case &c = cases[n];
            SCOPED_TRACE(c.label);
            const void *function = display_function(c.type, c.property);
            ASSERT_NE(function, nullptr) << c.type << " has no function " << c.property;
            const int *before = kPatterns[n % 3];
            engine<int (*)(int)>("SetBreakOnLibraryErrors")(before[0]);
            engine<int (*)(int)>("SetBreakOnProtectionErrors")(before[1]);
            engine<int (*)(int)>("SetBreakOnFirstChanceExceptions")(before[2]);
            void *answer = nullptr;
            int answers = standin_dbg_run_display(&stop_, function, c.variable, c.index, kArrivalTimeoutMs, &answer);
            ASSERT_GE(answers, 0) << "the thread did not stop after the display";
            EXPECT_EQ(engine<int (*)()>("GetBreakOnLibraryErrors")(), before[0]);
            EXPECT_EQ(engine<int (*)()>("GetBreakOnProtectionErrors")(), before[1]);
            EXPECT_EQ(engine<int (*)()>("GetBreakOnFirstChanceExceptions")(), before[2]);
            int seen = standin_rte_display_switches_seen();
            EXPECT_TRUE(seen == -1 || seen == 0) << "switches seen by the engine: " << seen;
            if (c.expected.kind == Expect::Nothing) {
                EXPECT_EQ(answers, 0);
                continue;
            }
            ASSERT_EQ(answers, 1);
            if (c.expected.kind == Expect::Text) {
                EXPECT_TRUE(in_module(answer)) << "a text outside the module's static memory";
                EXPECT_EQ(static_cast<const char *>(answer), c.expected.text);
            } else {
                EXPECT_EQ(answer, c.expected.address);
            }
        }
    }

    volatile unsigned char byte_ = 1;
    std::unique_ptr<Runner> node_;
    standin_dbg_stop_t stop_{};
};

/* The rows as the debugger must read them: (code, text or function, size). */
struct Row {
    int property;
    const char *value; /* a text, a function's symbol, or null */
    size_t size;
};

TEST_F(ValueDisplays, TablesListEveryTypeRowForRow)
{
    const std::vector<Row> runtime = {
        {1, "__qex_smart_type_RGBColor", 26}, {2, "RGB Color", 10}, {5, "__qex_smart_type_RGBColor_index", 0},
        {6, nullptr, 0}, {7, "red", 4}, {8, "unsigned char", 14}, {6, nullptr, 1}, {7, "green", 6},
        {8, "unsigned char", 14}, {6, nullptr, 2}, {7, "blue", 5}, {8, "unsigned char", 14},
        {3, "__qex_smart_type_RGBColor_print", 0}, {1, "time_t", 7}, {2, "Time (ANSI C Library)", 22},
        {3, "__qex_smart_type_time_t_print", 0}, {1, "CmtThreadLockHandle", 20}, {2, "Thread Lock Handle", 19},
        {3, "__qex_smart_type_CmtThreadLockHandle_print", 0}, {1, "CmtTSQHandle", 13},
        {2, "Thread-Safe Queue Handle", 25}, {3, "__qex_smart_type_CmtTSQHandle_print", 0},
        {4, "__qex_smart_type_CmtTSQHandle_count", 0}, {5, "__qex_smart_type_CmtTSQHandle_index", 0},
        {1, "__qex_smart_type_TCPHandle", 27}, {2, "TCP Conversation Handle", 24},
        {3, "__qex_smart_type_TCPHandle_print", 0}, {1, "ViSession", 10}, {2, "VISA Instrument Session Handle", 31},
        {3, "__qex_smart_type_ViSession_print", 0}};
    const std::vector<Row> toolbox = {{1, "ListType", 9}, {2, "List Type (Toolbox)", 20},
                                      {3, "__qex_smart_type_ListType_print", 0},
                                      {4, "__qex_smart_type_ListType_count", 0},
                                      {5, "__qex_smart_type_ListType_index", 0}};
    for (auto [unit, expected] : {std::make_pair(kUnits[0], runtime), std::make_pair(kUnits[1], toolbox)}) {
        SCOPED_TRACE(unit);
        size_t rows = 0;
        auto table = static_cast<const __qex_smart_type_t *>(standin_dbg_smart_type_table(g.node.handle, unit, &rows));
        ASSERT_NE(table, nullptr);
        ASSERT_EQ(rows, expected.size());
        EXPECT_EQ(module_symbol(g.node.handle, "__qex_smart_types"), nullptr) << "the tables are private";
        for (size_t i = 0; i < rows; ++i) {
            SCOPED_TRACE(i + 1);
            const Row &r = expected[i];
            EXPECT_EQ(table[i].property, r.property);
            EXPECT_EQ(table[i].size, r.size);
            bool function = r.property >= 3 && r.property <= 5;
            if (!r.value) EXPECT_EQ(table[i].value, nullptr);
            else if (function) EXPECT_EQ(table[i].value, module_symbol(g.node.handle, r.value)) << r.value;
            else EXPECT_STREQ(static_cast<const char *>(table[i].value), r.value);
        }
    }
    for (const char *anchor : {"__qex_smart_type_default_types", "__qex_toolbox_smart_type_default_types"}) {
        auto f = g.hook<void (*)()>(anchor);
        ASSERT_NE(f, nullptr) << anchor;
        f();
    }
}

TEST_F(ValueDisplays, ColoursTimesAndSessionsWithoutTheVisaLibrary)
{
    ASSERT_EQ(GetModuleHandleA("visa64.dll"), nullptr) << "something loaded the VISA library";
    int32_t orange = 0x00FF8000, mixed = 0x00010203;
    auto bytes = reinterpret_cast<const unsigned char *>(&orange);
    int64_t epoch = 0, recent = 1700000000, before_epoch = -1, far_future = 1000000000000000000;
    /* The Windows C runtime's ctime text, from the broken-down local time: the
     * day of the month always in two digits. */
    auto ctime_text = [](int64_t t) {
        time_t v = static_cast<time_t>(t);
        const tm *l = localtime(&v);
        static const char *days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        char buf[64];
        std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d %d", days[l->tm_wday], months[l->tm_mon], l->tm_mday,
                      l->tm_hour, l->tm_min, l->tm_sec, l->tm_year + 1900);
        return std::string(buf);
    };
    uint32_t session = 4242, zero = 0, largest = 0xFFFFFFFFu;
    check({{"orange", "__qex_smart_type_RGBColor", 3, &orange, 0, text("Red: 255  Green: 128  Blue: 0")},
           {"1,2,3", "__qex_smart_type_RGBColor", 3, &mixed, 0, text("Red: 1  Green: 2  Blue: 3")},
           {"red byte", "__qex_smart_type_RGBColor", 5, &orange, 0, at(bytes + 2)},
           {"green byte", "__qex_smart_type_RGBColor", 5, &orange, 1, at(bytes + 1)},
           {"blue byte", "__qex_smart_type_RGBColor", 5, &orange, 2, at(bytes)},
           {"unmapped colour", "__qex_smart_type_RGBColor", 3, kUnmapped, 0, nothing()},
           {"unmapped time", "time_t", 3, kUnmapped, 0, nothing()},
           {"unmapped session", "ViSession", 3, kUnmapped, 0, nothing()},
           {"epoch", "time_t", 3, &epoch, 0, text(ctime_text(epoch))},
           {"recent", "time_t", 3, &recent, 0, text(ctime_text(recent))},
           {"before the epoch", "time_t", 3, &before_epoch, 0, nothing()},
           {"beyond the C runtime", "time_t", 3, &far_future, 0, nothing()},
           {"session", "ViSession", 3, &session, 0, text("4242")},
           {"session 0", "ViSession", 3, &zero, 0, text("0")},
           {"largest session", "ViSession", 3, &largest, 0, text("4294967295")}});
}

TEST_F(ValueDisplays, SessionsAreNamedByALoadedVisaLibrary)
{
    HMODULE visa = LoadLibraryA((exe_directory() + "fixtures\\visa\\visa64.dll").c_str());
    ASSERT_NE(visa, nullptr);
    auto open = export_of<uint32_t (*)(const char *)>(visa, "fixture_visa_open");
    uint32_t instrument = open("GPIB0::12::INSTR"), long_named = open(std::string(300, 'r').c_str()), unknown = 77;
    check({{"named", "ViSession", 3, &instrument, 0, text("GPIB0::12::INSTR")},
           {"long name", "ViSession", 3, &long_named, 0, text(std::string(255, 'r'))},
           {"refused session", "ViSession", 3, &unknown, 0, text("77")}});
    FreeLibrary(visa);
    ASSERT_EQ(GetModuleHandleA("visa64.dll"), nullptr);
    check({{"after unloading", "ViSession", 3, &instrument, 0, text(std::to_string(instrument))}});
}

TEST_F(ValueDisplays, LocksShowTheirHolder)
{
    int handle = 0;
    ASSERT_EQ(engine<int (*)(const char *, int, int *)>("CmtNewLock")(nullptr, 0, &handle), 0);
    intptr_t lock = handle, missing = 99999;
    HANDLE taken = CreateEventA(nullptr, TRUE, FALSE, nullptr), done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    check({{"free", "CmtThreadLockHandle", 3, &lock, 0, text("Not held")},
           {"unknown lock", "CmtThreadLockHandle", 3, &missing, 0, nothing()},
           {"unmapped variable", "CmtThreadLockHandle", 3, kUnmapped, 0, nothing()}});
    DWORD holder_id = 0;
    std::thread holder([&] {
        holder_id = GetCurrentThreadId();
        engine<int (*)(int)>("CmtGetLock")(handle);
        SetEvent(taken);
        WaitForSingleObject(done, INFINITE);
        engine<int (*)(int)>("CmtReleaseLock")(handle);
    });
    WaitForSingleObject(taken, INFINITE);
    char held[64];
    std::snprintf(held, sizeof held, "Held by thread 0x%lx", holder_id);
    check({{"held", "CmtThreadLockHandle", 3, &lock, 0, text(held)}});
    SetEvent(done);
    holder.join();
    check({{"released", "CmtThreadLockHandle", 3, &lock, 0, text("Not held")}});
    engine<int (*)(int)>("CmtDiscardLock")(handle);
    CloseHandle(taken);
    CloseHandle(done);
}

TEST_F(ValueDisplays, QueuesCountAndIndexAcrossTheWrap)
{
    auto make = engine<int (*)(int, int, int, intptr_t *)>("CmtNewTSQ");
    auto write = engine<int (*)(intptr_t, const void *, int, int, int *)>("CmtWriteTSQData");
    auto read = engine<int (*)(intptr_t, void *, int, int, int)>("CmtReadTSQData");
    intptr_t wrapped = 0, straight = 0, empty = 0, missing = 4000;
    ASSERT_EQ(make(8, 4, 0, &wrapped), 0);
    ASSERT_EQ(make(8, 4, 0, &straight), 0);
    ASSERT_EQ(make(2, 16, 0, &empty), 0);
    int32_t items[5] = {10, 11, 12, 13, 14}, scratch[5];
    ASSERT_EQ(write(wrapped, items, 5, 0, nullptr), 5);
    ASSERT_EQ(read(wrapped, scratch, 5, 0, 0), 5);
    ASSERT_EQ(write(wrapped, items, 5, 0, nullptr), 5) << "the items now lie in slots 5, 6, 7, 0 and 1";
    ASSERT_EQ(write(straight, items, 3, 0, nullptr), 3);
    auto slot = [](intptr_t q, int i) { return static_cast<const char *>(standin_rte_tsq_storage(q)) + 4 * i; };
    check({{"print", "CmtTSQHandle", 3, &wrapped, 0, text("[5 elements]")},
           {"count", "CmtTSQHandle", 4, &wrapped, 0, count(5)},
           {"index 0", "CmtTSQHandle", 5, &wrapped, 0, at(slot(wrapped, 5))},
           {"index 2", "CmtTSQHandle", 5, &wrapped, 2, at(slot(wrapped, 7))},
           {"index 3 wraps to the first slot", "CmtTSQHandle", 5, &wrapped, 3, at(slot(wrapped, 0))},
           {"index 4", "CmtTSQHandle", 5, &wrapped, 4, at(slot(wrapped, 1))},
           {"index 5", "CmtTSQHandle", 5, &wrapped, 5, nothing()},
           {"index -1", "CmtTSQHandle", 5, &wrapped, -1, nothing()},
           {"no wrap, index 2", "CmtTSQHandle", 5, &straight, 2, at(slot(straight, 2))},
           {"empty print", "CmtTSQHandle", 3, &empty, 0, text("[0 elements]")},
           {"empty count", "CmtTSQHandle", 4, &empty, 0, count(0)},
           {"empty index 0", "CmtTSQHandle", 5, &empty, 0, nothing()},
           {"unknown print", "CmtTSQHandle", 3, &missing, 0, nothing()},
           {"unknown count", "CmtTSQHandle", 4, &missing, 0, nothing()},
           {"unknown index", "CmtTSQHandle", 5, &missing, 0, nothing()},
           {"unmapped variable", "CmtTSQHandle", 4, kUnmapped, 0, nothing()}});
    for (int i = 0; i < 5; ++i) EXPECT_EQ(*reinterpret_cast<const int32_t *>(slot(wrapped, (5 + i) % 8)), 10 + i);
    EXPECT_EQ(read(wrapped, scratch, 5, 0, 0), 5) << "the displays took nothing out";

    /* A queue another thread is reading: the query gives up instead of waiting for it. */
    HANDLE reading = CreateEventA(nullptr, TRUE, FALSE, nullptr), done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread reader([&] {
        void *p = nullptr;
        int readable = 0;
        engine<int (*)(intptr_t, void **, int *)>("CmtGetTSQReadPtr")(straight, &p, &readable);
        SetEvent(reading);
        WaitForSingleObject(done, INFINITE);
        engine<int (*)(intptr_t, int)>("CmtReleaseTSQReadPtr")(straight, 0);
    });
    WaitForSingleObject(reading, INFINITE);
    check({{"held by a reader", "CmtTSQHandle", 3, &straight, 0, nothing()}});
    SetEvent(done);
    reader.join();
    check({{"reader gone", "CmtTSQHandle", 3, &straight, 0, text("[3 elements]")}});
    for (intptr_t q : {wrapped, straight, empty}) engine<int (*)(intptr_t)>("CmtDiscardTSQ")(q);
    CloseHandle(reading);
    CloseHandle(done);
}

TEST_F(ValueDisplays, TcpConversationsShowWhatIsKnownOfThePeer)
{
    std::string long_name(200, 'n'), long_address(200, 'a');
    uint32_t both = standin_rte_tcp_open("db.example.net", "10.1.2.3"),
             name_only = standin_rte_tcp_open("db.example.net", nullptr),
             address_only = standin_rte_tcp_open(nullptr, "10.1.2.3"), neither = standin_rte_tcp_open(nullptr, nullptr),
             longest = standin_rte_tcp_open(long_name.c_str(), long_address.c_str()), closed = neither + 1000;
    check({{"name and address", "__qex_smart_type_TCPHandle", 3, &both, 0, text("db.example.net [10.1.2.3]")},
           {"name only", "__qex_smart_type_TCPHandle", 3, &name_only, 0, text("db.example.net")},
           {"address only", "__qex_smart_type_TCPHandle", 3, &address_only, 0, text("10.1.2.3")},
           {"neither", "__qex_smart_type_TCPHandle", 3, &neither, 0, nothing()},
           {"no conversation", "__qex_smart_type_TCPHandle", 3, &closed, 0, nothing()},
           {"unmapped variable", "__qex_smart_type_TCPHandle", 3, kUnmapped, 0, nothing()},
           {"both cut to 127", "__qex_smart_type_TCPHandle", 3, &longest, 0,
            text(std::string(127, 'n') + " [" + std::string(127, 'a') + "]")}});
    for (uint32_t c : {both, name_only, address_only, neither, longest}) standin_rte_tcp_close(c);
}

TEST_F(ValueDisplays, ListsAndTheirItems)
{
    auto create = g.hook<ListType (*)(size_t)>("ListCreate");
    auto insert = g.hook<int (*)(ListType, const void *, ptrdiff_t)>("ListInsertItem");
    auto dispose = g.hook<void (*)(ListType)>("ListDispose");
    ListType list = create(4), none = nullptr;
    for (int32_t v : {7, 8, 9}) insert(list, &v, LIST_POS_END);
    alignas(8) static uint32_t not_a_list[16] = {0x54534948};
    ListType bogus = reinterpret_cast<ListType>(not_a_list), wild = reinterpret_cast<ListType>(0x10);
    auto item = [&](ptrdiff_t p) { return g.hook<void *(*)(ListType, ptrdiff_t)>("ListGetPtrToItem")(list, p); };
    check({{"print", "ListType", 3, &list, 0, text("[3 elements]")},
           {"count", "ListType", 4, &list, 0, count(3)},
           {"index 0 is the first item", "ListType", 5, &list, 0, at(item(1))},
           {"index 2", "ListType", 5, &list, 2, at(item(3))},
           {"index 3", "ListType", 5, &list, 3, nothing()},
           {"index -1", "ListType", 5, &list, -1, nothing()},
           {"index -2", "ListType", 5, &list, -2, nothing()},
           {"null list", "ListType", 3, &none, 0, nothing()},
           {"null address", "ListType", 4, nullptr, 0, nothing()},
           {"not a list", "ListType", 3, &bogus, 0, nothing()},
           {"not a list, index", "ListType", 5, &bogus, 0, nothing()},
           {"wild list", "ListType", 4, &wild, 0, nothing()},
           {"unmapped variable", "ListType", 3, kUnmapped, 0, nothing()}});
    EXPECT_EQ(*static_cast<int32_t *>(item(1)), 7);
    dispose(list);
}

/* Each display keeps its own text: an earlier answer survives other displays. */
TEST_F(ValueDisplays, TextsStayUntilTheSameDisplayRunsAgain)
{
    int32_t color = 0x00102030;
    uint32_t session = 5;
    void *first = nullptr, *second = nullptr;
    auto run = [&](const char *type, const void *variable, void **answer) {
        ASSERT_EQ(standin_dbg_run_display(&stop_, display_function(type, 3), variable, 0, kArrivalTimeoutMs, answer), 1);
    };
    run("__qex_smart_type_RGBColor", &color, &first);
    run("ViSession", &session, &second);
    EXPECT_NE(first, second);
    EXPECT_STREQ(static_cast<const char *>(first), "Red: 16  Green: 32  Blue: 48");
    EXPECT_STREQ(static_cast<const char *>(second), "5");
}

} // namespace
