/* cnode-run: runs the node module in a host of its own.
 *
 * Exit status: 0 when every call came back with status 0, 1 when a cluster
 * (or a batch line) reports an error, 2 for bad usage or a host that cannot
 * be set up. */
#include <cstdio>
#include <iostream>
#include <string>
#include "extensions.h"
#include "host.h"
#include "options.h"
#include "output.h"

using namespace cnode_run;

namespace {

constexpr int kExitOk = 0, kExitError = 1, kExitUsage = 2;

/* Reads a signed 32-bit integer member of a batch line, if present. */
bool read_int32(const nlohmann::json &value, const std::string &key, int32_t lo, int32_t hi, int32_t &out,
                std::string &problem)
{
    if (!value.is_number_integer()) {
        problem = "value of \"" + key + "\" is not an integer";
        return false;
    }
    if (value.is_number_unsigned() ? value.get<uint64_t>() > static_cast<uint64_t>(hi)
                                   : (value.get<int64_t>() < lo || value.get<int64_t>() > hi)) {
        problem = "value of \"" + key + "\" is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
        return false;
    }
    out = static_cast<int32_t>(value.get<int64_t>());
    return true;
}

/* Turns one batch line into inputs and an incoming error; false with a problem. */
bool parse_batch_line(const std::string &line, Inputs &in, IncomingError &err, std::string &problem)
{
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded()) { problem = "not valid JSON"; return false; }
    if (!j.is_object()) { problem = "not a JSON object"; return false; }
    for (auto &[key, value] : j.items()) {
        bool known = false;
        for (const InputField &f : kInputFields)
            if (key == f.key) {
                if (!read_int32(value, key, INT32_MIN, INT32_MAX, in.*f.field, problem)) return false;
                known = true;
            }
        if (known) continue;
        if (key == "status") {
            int32_t s = 0;
            if (!read_int32(value, key, 0, 255, s, problem)) return false;
            err.status = static_cast<uint8_t>(s);
        } else if (key == "code") {
            if (!read_int32(value, key, INT32_MIN, INT32_MAX, err.code, problem)) return false;
        } else if (key == "source") {
            if (!value.is_string()) { problem = "value of \"source\" is not a string"; return false; }
            err.source = value.get<std::string>();
        } else {
            problem = "unknown field \"" + key + "\"";
            return false;
        }
    }
    return true;
}

int run_batch(Host &host)
{
    int status = kExitOk;
    std::string line;
    for (long number = 1; std::getline(std::cin, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        Inputs in;
        IncomingError err;
        std::string problem;
        if (!parse_batch_line(line, in, err, problem)) {
            nlohmann::ordered_json e;
            e["line"] = number;
            e["problem"] = problem;
            std::printf("%s\n", json_line(e).c_str());
            status = kExitError;
            continue;
        }
        Outputs out = host.call(in, err);
        if (out.status != 0) status = kExitError;
        std::printf("%s\n", json_line(to_json(out)).c_str());
    }
    std::fflush(stdout);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (auto problem = parse_options(argc, argv, options)) {
        std::fprintf(stderr, "cnode-run: %s\n(try --help)\n", problem->c_str());
        return kExitUsage;
    }
    if (options.help) {
        print_usage();
        return kExitOk;
    }
    Host host;
    std::string error;
    if (!host.load(options.module_path, error)) {
        std::fprintf(stderr, "cnode-run: %s\n", error.c_str());
        return kExitUsage;
    }
    if (auto status = run_extensions(options, host)) return *status;
    if (options.batch) return run_batch(host);

    Outputs out = host.call(options.inputs, options.error);
    if (options.json)
        std::printf("%s\n", json_line(to_json(out)).c_str());
    else
        print_table(out);
    std::fflush(stdout);
    return out.status != 0 ? kExitError : kExitOk;
}
