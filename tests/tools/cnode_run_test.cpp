/* cnode-run as its users see it: flags, exit statuses, the JSON output, and
 * thousands of random batch lines checked against an independent model. */
#include <gtest/gtest.h>
#include <climits>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include "child_process.h"
#include "field_model.h"
#include "module_loader.h"

using testing_support::run_child;

namespace {

std::string tool() { return "\"" + testing_support::exe_directory() + "cnode-run.exe\""; }

model::Out outputs_of(const nlohmann::json &j)
{
    return {j.at("samp_indx").get<int32_t>(), j.at("freq_indx").get<int32_t>(), j.at("cap_indx").get<int32_t>(),
            j.at("loss_indx").get<int32_t>(), j.at("unit_indx").get<int32_t>(), j.at("volt_indx").get<int32_t>(),
            j.at("err_code_indx").get<int32_t>(), j.at("err_msg_indx").get<int32_t>()};
}

TEST(CnodeRun, DefaultRunPrintsTheFieldsOfAFullReply)
{
    auto r = run_child(tool() + " --json");
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(outputs_of(j), (model::Out{1, 3, 6, 9, 10, 12, -1, 14}));
    EXPECT_EQ(j["error"], (nlohmann::json{{"status", 0}, {"code", 0}, {"source", ""}}));
}

TEST(CnodeRun, TableOutputNamesEveryPosition)
{
    auto r = run_child(tool() + " --size 14");
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    for (const char *line : {"samp_indx", "err_msg_indx", "status 0, code 0"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line;
    EXPECT_NE(r.out.find("err_msg_indx            -1"), std::string::npos) << r.out;
}

TEST(CnodeRun, IncomingErrorSkipsTheNodeAndExitsWith1)
{
    auto r = run_child(tool() + " --json --status 1 --code 42 --source abc");
    EXPECT_EQ(r.exit_code, 1u);
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(outputs_of(j), (model::Out{0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(j["error"], (nlohmann::json{{"status", 1}, {"code", 42}, {"source", "abc"}}));
}

TEST(CnodeRun, BadUsageExitsWith2AndSaysWhy)
{
    struct UsageCase {
        const char *args;
        const char *says;
    } cases[] = {
        {"--frob", "unknown flag: --frob"},
        {"--samp 2147483648", "--samp"},
        {"--size -2147483649", "--size"},
        {"--label 1x", "--label"},
        {"--volt", "needs a value"},
        {"--status 256", "--status"},
        {"--label \" 1\"", "--label"},
    };
    for (const auto &c : cases) {
        auto r = run_child(tool() + " " + c.args);
        EXPECT_EQ(r.exit_code, 2u) << c.args;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << c.args;
    }
}

TEST(CnodeRun, ExtremeFlagValuesAreAccepted)
{
    auto r = run_child(tool() + " --json --label -2147483648 --size -2147483648 --samp 2147483647");
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    model::In in{INT32_MIN, 0, INT32_MAX, 1, 1, 1, 1, INT32_MIN};
    EXPECT_EQ(outputs_of(nlohmann::json::parse(r.out)), model::positions(in));
}

TEST(CnodeRun, BatchAgreesWithTheModelOnRandomLines)
{
    std::mt19937 rng(7);
    const int64_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, 2, INT32_MAX - 1, INT32_MAX};
    const char *names[] = {"label", "err_code", "samp", "freq", "cap", "loss", "volt", "size"};
    constexpr int kLines = 3000;
    std::vector<model::In> expected_inputs;
    std::ostringstream input;
    for (int i = 0; i < kLines; ++i) {
        model::In in{1, 0, 1, 1, 1, 1, 1, 16}; /* defaults for missing members */
        int32_t *fields[] = {&in.label, &in.err_code, &in.samp, &in.freq, &in.cap, &in.loss, &in.volt, &in.size};
        nlohmann::json line = nlohmann::json::object();
        for (int f = 0; f < 8; ++f) {
            if (rng() % 4 == 0) continue; /* leave it to its default */
            int64_t v;
            switch (rng() % 3) {
            case 0: v = extremes[rng() % 8]; break;
            case 1: v = static_cast<int64_t>(rng() % 40) - 10; break;
            default: v = static_cast<int32_t>(rng()); break;
            }
            line[names[f]] = v;
            *fields[f] = static_cast<int32_t>(v);
        }
        expected_inputs.push_back(in);
        input << line.dump() << "\n";
    }
    auto r = run_child(tool() + " --batch", input.str());
    ASSERT_EQ(r.exit_code, 0u) << r.err;
    std::istringstream out(r.out);
    std::string text;
    int n = 0;
    while (std::getline(out, text)) {
        ASSERT_LT(n, kLines);
        auto j = nlohmann::json::parse(text);
        ASSERT_EQ(outputs_of(j), model::positions(expected_inputs[static_cast<size_t>(n)])) << "line " << n + 1;
        ASSERT_EQ(j["error"]["status"], 0);
        ++n;
    }
    EXPECT_EQ(n, kLines);
}

TEST(CnodeRun, BatchReportsMalformedLinesAndGoesOn)
{
    std::string input = "{\"samp\": 2}\n"
                        "not json\n"
                        "[1, 2]\n"
                        "{\"samp\": 2147483648}\n"
                        "{\"samp\": \"3\"}\n"
                        "{\"colour\": 1}\n"
                        "\n"
                        "{\"status\": 1, \"code\": 5, \"source\": \"up\"}\n"
                        "{\"size\": 14}\n";
    auto r = run_child(tool() + " --batch", input);
    EXPECT_EQ(r.exit_code, 1u);
    std::istringstream out(r.out);
    std::vector<nlohmann::json> lines;
    for (std::string t; std::getline(out, t);) lines.push_back(nlohmann::json::parse(t));
    ASSERT_EQ(lines.size(), 8u) << r.out;
    EXPECT_EQ(lines[0]["freq_indx"], 5);
    const int bad_lines[] = {2, 3, 4, 5, 6};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(lines[static_cast<size_t>(i + 1)]["line"], bad_lines[i]);
        EXPECT_TRUE(lines[static_cast<size_t>(i + 1)]["problem"].is_string());
    }
    EXPECT_NE(lines[5]["problem"].get<std::string>().find("colour"), std::string::npos);
    EXPECT_EQ(lines[6]["error"], (nlohmann::json{{"status", 1}, {"code", 5}, {"source", "up"}}));
    EXPECT_EQ(lines[6]["samp_indx"], 0);
    EXPECT_EQ(lines[7]["err_msg_indx"], -1);
}

} // namespace
