/* cnode-run as its users see it: flags, exit statuses, the JSON output,
 * thousands of random batch lines checked against an independent model (and
 * answered alike by any number of threads), and what it does with unusual
 * input, a failing output and modules that do not load. */
#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <thread>
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
        {"--frob", "--frob"},
        {"--samp 2147483648", "--samp"},
        {"--size -2147483649", "--size"},
        {"--label 1x", "--label"},
        {"--label 0x10", "--label"},
        {"--volt", "--volt"},
        {"--status 256", "--status"},
        {"--label \" 1\"", "--label"},
        {"--threads 2", "--batch"},
        {"--batch --threads -1", "--threads"},
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
    for (const char *threads : {"2", "3", "0"}) {
        auto parallel = run_child(tool() + " --batch --threads " + threads, input.str());
        EXPECT_EQ(parallel.exit_code, 0u) << threads;
        EXPECT_TRUE(parallel.out == r.out) << "--threads " << threads << " answered differently";
    }
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
    EXPECT_EQ(r.exit_code, 4u) << "a malformed line outranks a reported error";
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

namespace {

std::vector<nlohmann::json> json_lines(const std::string &out)
{
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string t; std::getline(in, t);) lines.push_back(nlohmann::json::parse(t, nullptr, false));
    return lines;
}

/* Flags given with --batch are every line's defaults; a line's members win. */
TEST(CnodeRun, BatchTakesTheInputFlagsAsDefaults)
{
    auto r = run_child(tool() + " --batch --size 3 --samp 2 --status 1 --code 7 --source x",
                       "{}\n{\"status\": 0, \"size\": 14}\n{\"error\": {\"status\": 0}, \"label\": 5}\n");
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(r.exit_code, 1u);
    EXPECT_EQ(lines[0]["error"], (nlohmann::json{{"status", 1}, {"code", 7}, {"source", "x"}}));
    EXPECT_EQ(outputs_of(lines[1]), model::positions({1, 0, 2, 1, 1, 1, 1, 14}));
    EXPECT_EQ(outputs_of(lines[2]), model::positions({5, 0, 2, 1, 1, 1, 1, 3}));
}

/* A line of batch output goes back in as it stands: its error travels on,
 * its positions are ignored; a malformed error member is malformed. */
TEST(CnodeRun, BatchOutputIsValidBatchInput)
{
    auto first = run_child(tool() + " --batch", "{\"status\": 3, \"code\": -9, \"source\": \"caf\xC3\xA9\"}\n");
    ASSERT_EQ(first.exit_code, 1u);
    auto again = run_child(tool() + " --batch", first.out + "{\"error\": 1}\n{\"error\": {\"colour\": 1}}\n");
    EXPECT_EQ(again.exit_code, 4u);
    auto lines = json_lines(again.out);
    ASSERT_EQ(lines.size(), 3u) << again.out;
    EXPECT_EQ(lines[0], json_lines(first.out)[0]);
    EXPECT_EQ(lines[1]["problem"], "value of \"error\" is not an object");
    EXPECT_EQ(lines[2]["problem"], "unknown field \"error.colour\"");
}

/* Standard input is binary: a Ctrl-Z byte, CR LF endings and random bytes end
 * nothing early; every non-blank line gets its answer, each ending in LF. */
TEST(CnodeRun, BinaryInputIsReadToItsEndAndEveryLineAnswered)
{
    std::string input = "{\"size\": 14}\r\n\x1A\n{\"size\": 15}\n";
    std::mt19937 rng(3);
    int random_lines = 0;
    for (int i = 0; i < 200; ++i) {
        std::string line;
        for (int n = static_cast<int>(rng() % 40); n > 0; --n) line += static_cast<char>(rng() % 256);
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        input += line + "\n";
        ++random_lines;
    }
    input += "{\"size\": 16}"; /* the last line needs no line end */
    auto r = run_child(tool() + " --batch", input);
    EXPECT_EQ(r.exit_code, 4u);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
    auto lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), static_cast<size_t>(random_lines) + 4) << r.out;
    EXPECT_EQ(lines[0]["err_msg_indx"], -1);
    EXPECT_EQ(lines[1]["line"], 2);
    EXPECT_EQ(lines[2]["samp_indx"], 1);
    EXPECT_EQ(lines.back()["err_msg_indx"], 14);
    for (const char *flags : {" --json", ""}) EXPECT_EQ(run_child(tool() + flags).out.find('\r'), std::string::npos);
}

/* A batch line typed at a console is answered while the input stays open,
 * with one worker or several. A watchdog ends the tool after 20 s, so one
 * that answers only at the end of its input fails instead of hanging. */
TEST(CnodeRun, ABatchLineIsAnsweredBeforeTheNextArrives)
{
    for (std::string threads : {"1", "2"}) {
        SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
        HANDLE in_r, in_w, out_r, out_w;
        ASSERT_TRUE(CreatePipe(&in_r, &in_w, &sa, 0) && CreatePipe(&out_r, &out_w, &sa, 0));
        SetHandleInformation(in_w, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = in_r;
        si.hStdOutput = si.hStdError = out_w;
        PROCESS_INFORMATION pi{};
        std::string cmd = tool() + " --batch --threads " + threads;
        ASSERT_TRUE(CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(in_r), CloseHandle(out_w);
        HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::thread watchdog([&] {
            if (WaitForSingleObject(done, 20000) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, 99);
        });
        std::vector<std::string> answers;
        for (const char *line : {"{\"size\": 14}\n", "{\"size\": 15}\n"}) {
            DWORD n;
            WriteFile(in_w, line, static_cast<DWORD>(std::strlen(line)), &n, nullptr);
            std::string answer;
            for (char c; ReadFile(out_r, &c, 1, &n, nullptr) && n == 1 && c != '\n';) answer += c;
            answers.push_back(answer);
        }
        SetEvent(done);
        watchdog.join();
        CloseHandle(in_w);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        for (HANDLE h : {done, out_r, pi.hProcess, pi.hThread}) CloseHandle(h);
        ASSERT_EQ(code, 0u) << "--threads " << threads << ": no answer while the input was open";
        EXPECT_EQ(nlohmann::json::parse(answers[0])["err_msg_indx"], -1) << answers[0];
        EXPECT_EQ(nlohmann::json::parse(answers[1])["err_msg_indx"], 14) << answers[1];
    }
}

/* An output that cannot be written is never success: exit 3 and the reason,
 * named by the system's error. */
TEST(CnodeRun, AFailedWriteExitsWith3AndSaysSo)
{
    testing_support::ChildOptions closed;
    closed.output_closed = true;
    for (const char *flags : {" --json", "", " --help", " --batch", " --batch --threads 2"}) {
        auto r = run_child(tool() + flags, "{}\n{}\n", closed);
        EXPECT_EQ(r.exit_code, 3u) << flags;
        EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << flags << ": " << r.err;
        EXPECT_EQ(r.err.find("write error"), std::string::npos) << flags << ": the cause is not named: " << r.err;
    }
}

/* Arguments arrive as UTF-8, the same bytes a batch line carries. */
TEST(CnodeRun, ArgumentsAreTakenAsUtf8)
{
    const std::string text = "caf\xC3\xA9 \xE2\x9C\x93";
    testing_support::ChildOptions utf8;
    utf8.utf8_command_line = true;
    auto r = run_child(tool() + " --json --status 2 --source \"" + text + "\"", {}, utf8);
    EXPECT_EQ(nlohmann::json::parse(r.out)["error"]["source"], text);
    auto batch = run_child(tool() + " --batch", "{\"status\": 2, \"source\": \"" + text + "\"}\n");
    EXPECT_EQ(json_lines(batch.out)[0], nlohmann::json::parse(r.out));
}

/* A module that does not load is explained in words. */
TEST(CnodeRun, ModuleLoadFailuresSayWhy)
{
    std::string dir = testing_support::exe_directory();
    std::string text_file = dir + "cnode_run_test_text.dll", random_file = dir + "cnode_run_test_random.dll";
    std::FILE *f = std::fopen(text_file.c_str(), "wb");
    std::fputs("not a DLL\n", f);
    std::fclose(f);
    f = std::fopen(random_file.c_str(), "wb");
    std::mt19937 rng(5);
    for (int i = 0; i < 4096; ++i) std::fputc(static_cast<int>(rng() % 256), f);
    std::fclose(f);
    struct LoadCase {
        std::string module;
        const char *says;
    } cases[] = {
        {dir + "no_such_module.dll", "no such file"},
        {text_file, "not a Windows executable image"},
        {random_file, "not a Windows executable image"},
        {dir + "cnode-run.exe", "a program, not a DLL"},
        {dir + "gwrt.dll", "does not export __cnode_EntryPoint, __cnode_reserve_callback"},
    };
    for (const auto &c : cases) {
        auto r = run_child(tool() + " --module \"" + c.module + "\"");
        EXPECT_EQ(r.exit_code, 2u) << c.module;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.module << ": " << r.err;
    }
    std::remove(text_file.c_str());
    std::remove(random_file.c_str());
}

/* Beside an engine without the abort entry the module refuses to start, and
 * cnode-run gives the module's own words for it. */
TEST(CnodeRun, AModuleRefusedByItsStartUpGivesItsReason)
{
    std::string bin = testing_support::exe_directory();
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string dir = std::string(temp) + "cnode_run_refusal_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    const std::pair<std::string, std::string> files[] = {
        {bin + "fixtures\\engine_without_abort_entry\\qex_gwrt.dll", "qex_gwrt.dll"},
        {bin + "gwrt.dll", "gwrt.dll"},
        {bin + "parse_measurement.dll", "parse_measurement.dll"},
        {bin + "cnode-run.exe", "cnode-run.exe"}};
    for (const auto &[from, name] : files) ASSERT_TRUE(CopyFileA(from.c_str(), (dir + name).c_str(), FALSE)) << from;
    auto r = run_child("\"" + dir + "cnode-run.exe\" --json");
    for (const auto &file : files) DeleteFileA((dir + file.second).c_str());
    RemoveDirectoryA(dir.c_str());
    EXPECT_EQ(r.exit_code, 2u);
    EXPECT_NE(r.err.find("its start-up refused to load: ERROR: C Node RTE is not present or is missing "
                         "cnode_rte_get_abort_tlv export!"),
              std::string::npos)
        << r.err;
}

/* A long batch keeps its memory flat: 200,000 lines take no more memory than
 * 20,000, once the window of lines in flight is full (a call that left 100
 * bytes behind would add 18 MB). */
TEST(CnodeRun, LongBatchesKeepTheirMemoryFlat)
{
    auto peak_of = [](int lines) {
        std::string input;
        for (int i = 0; i < lines; ++i) input += "{\"samp\": " + std::to_string(i % 50) + ", \"source\": \"s\"}\n";
        auto r = run_child(tool() + " --batch --threads 2", input);
        EXPECT_EQ(r.exit_code, 0u);
        return static_cast<double>(r.peak_memory);
    };
    double few = peak_of(20000), many = peak_of(200000);
    ASSERT_GT(few, 0);
    EXPECT_LT(many - few, 4e6) << "peak " << few << " bytes for 20,000 lines, " << many << " for 200,000";
}

/* run.sh says so when the arguments exceed what a Windows command line holds. */
TEST(CnodeRun, RunShRefusesAnOverlongArgumentListInWords)
{
    /* Through the Unix shell, which writes the script's error stream and then
     * its exit status to a file of the build tree: a Unix program started
     * from here writes to the Unix side's streams, not to this process's
     * pipes, and is not waited for. */
    const std::string report = CNODE_BINARY_DIR "/run_sh_overlong.txt";
    std::string windows_path = "Z:" + report;
    std::replace(windows_path.begin(), windows_path.end(), '/', '\\');
    std::remove(windows_path.c_str());
    run_child("start.exe /unix /bin/sh -c \"$0 --source $(printf %040000d 0) 2>$1.part; echo exit $? >>$1.part; "
              "mv $1.part $1\" " CNODE_SOURCE_DIR "/run.sh " + report);
    std::string text;
    for (int waited = 0; text.empty() && waited < 300; ++waited) {
        Sleep(100);
        std::ifstream file(windows_path);
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    std::remove(windows_path.c_str());
    EXPECT_NE(text.find("Windows takes at most 32767"), std::string::npos) << text;
    EXPECT_NE(text.find("exit 2"), std::string::npos) << text;
}

} // namespace
