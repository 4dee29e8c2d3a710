/* cnode-run's debugging flags, run as a user runs them: unattended, from the
 * flags alone. */
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>
#include "child_process.h"
#include "module_loader.h"

using testing_support::exe_directory;
using testing_support::run_child;

namespace {

testing_support::ChildResult cnode_run(const std::string &flags)
{
    return run_child("\"" + exe_directory() + "cnode-run.exe\" " + flags);
}

nlohmann::json json_of(const testing_support::ChildResult &r)
{
    nlohmann::json j = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_TRUE(j.is_object()) << r.out << r.err;
    return j;
}

std::vector<int> stop_entries(const nlohmann::json &j)
{
    std::vector<int> entries;
    if (j.contains("stops"))
        for (const auto &s : j["stops"]) entries.push_back(s["entry"].get<int>());
    return entries;
}

TEST(CnodeRunDebug, AbortAtAnEntryEndsWith1039)
{
    auto r = cnode_run("--abort-at 20 --json");
    EXPECT_EQ(r.exit_code, 1u) << r.err;
    nlohmann::json j = json_of(r);
    EXPECT_EQ(j["error"]["status"], 1);
    EXPECT_EQ(j["error"]["code"], 1039);
    EXPECT_EQ(stop_entries(j), std::vector<int>{20});
    EXPECT_EQ(j["stops"][0]["abort_requested"], true);
    /* Steps 1 to 12 ran before entry 20: their outputs came back. */
    EXPECT_EQ(j["samp_indx"], 1);
    EXPECT_EQ(j["err_msg_indx"], 14);
    EXPECT_EQ(j["err_code_indx"], -1);
}

TEST(CnodeRunDebug, FaultAtAnEntryEndsWith1138)
{
    auto r = cnode_run("--fault-at 9 --json");
    EXPECT_EQ(r.exit_code, 1u) << r.err;
    nlohmann::json j = json_of(r);
    EXPECT_EQ(j["error"]["status"], 1);
    EXPECT_EQ(j["error"]["code"], 1138);
    EXPECT_EQ(j["freq_indx"], 3) << "the statement before the fault ran";
    EXPECT_EQ(j["cap_indx"], 0) << "the faulting statement did not";
}

TEST(CnodeRunDebug, BreakThenStepNextStopsAtEachFollowingPoint)
{
    auto r = cnode_run("--break 7 --step next --json");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    nlohmann::json j = json_of(r);
    std::vector<int> expected = {7, 8, 9, 10, 11, 12, 13, 14, 18, 19, 20, 21, 23, 24, 26, 27, 29, 30, 32, 33, 34,
                                 36, 37, 39, 40};
    EXPECT_EQ(stop_entries(j), expected);
    EXPECT_EQ(j["stops"][0]["reason"], "breakpoint");
    EXPECT_EQ(j["stops"][1]["reason"], "step next");
    EXPECT_EQ(j["stops"][1]["step"], 5);
    EXPECT_EQ(j["stops"][1]["computed"]["samp_indx"], 1);
    EXPECT_EQ(j["err_msg_indx"], 14);
}

TEST(CnodeRunDebug, PlainOutputNamesTheStatementAndTheLocals)
{
    auto r = cnode_run("--break 7 --step next");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    size_t first = r.out.find("stop at entry 7 (breakpoint): step 4, assignment: samp_indx = label + err_code");
    size_t second = r.out.find("stop at entry 8 (step next): step 5");
    size_t third = r.out.find("stop at entry 9 (step next): step 6");
    EXPECT_NE(first, std::string::npos) << r.out;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
    EXPECT_NE(r.out.find("computed so far: samp_indx=1 freq_indx=3"), std::string::npos) << r.out;
}

TEST(CnodeRunDebug, BreakpointsAloneStopOnlyThere)
{
    auto r = cnode_run("--break 41,3,22,13 --json");
    nlohmann::json j = json_of(r);
    EXPECT_EQ(stop_entries(j), (std::vector<int>{3, 13})) << "22 and 41 are not passed for these inputs";
    auto out = cnode_run("--break 41 --size 14 --json");
    EXPECT_EQ(stop_entries(json_of(out)), std::vector<int>{41});
}

TEST(CnodeRunDebug, StepOutLeavesTheNodesText)
{
    auto r = cnode_run("--break 5 --step out --json");
    EXPECT_EQ(stop_entries(json_of(r)), std::vector<int>{5});
}

TEST(CnodeRunDebug, NativeTraceShowsTheModulesAttachMessage)
{
    auto r = cnode_run("--trace");
    EXPECT_EQ(r.exit_code, 0u) << r.err;
    std::istringstream lines(r.out);
    std::string line;
    int attaches = 0, detaches = 0;
    while (std::getline(lines, line)) {
        if (line.rfind("@{module_attach|", 0) == 0) {
            ++attaches;
            EXPECT_NE(line.find("parse_measurement.dll:15|32|36|40|44|48|65|69}@"), std::string::npos) << line;
        }
        if (line.rfind("@{module_detach|", 0) == 0) ++detaches;
    }
    EXPECT_GE(attaches, 1) << r.out;
    EXPECT_EQ(attaches, detaches);
    EXPECT_NE(r.out.find("samp_indx"), std::string::npos) << "the child's result follows";
}

TEST(CnodeRunDebug, TraceWithTheLibraryPrintsItsLog)
{
    auto r = cnode_run("--break 3 --trace --json");
    nlohmann::json j = json_of(r);
    ASSERT_TRUE(j.contains("trace"));
    bool attach = false;
    for (const auto &line : j["trace"]) attach = attach || line.get<std::string>().rfind("attach function=", 0) == 0;
    EXPECT_TRUE(attach) << j["trace"].dump();
}

TEST(CnodeRunDebug, BadDebuggingFlagsAreUsageErrors)
{
    for (const char *flags : {"--break 0", "--break 42", "--break 3,x", "--step sideways", "--abort-at", "--fault-at -1",
                              "--break 3 --batch"}) {
        SCOPED_TRACE(flags);
        auto r = cnode_run(flags);
        EXPECT_EQ(r.exit_code, 2u);
        EXPECT_NE(r.err.find("cnode-run:"), std::string::npos);
    }
}

} // namespace
