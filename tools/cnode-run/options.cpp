/* Parsing of cnode-run's command line. Every numeric flag takes a signed 32-bit
 * decimal integer; anything else is bad usage and ends the program with 2. */
#include "options.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cnode_run {

bool extension_flag(const std::string &flag, bool &takes_value);

std::optional<int32_t> parse_int32(const std::string &text)
{
    if (text.empty()) return std::nullopt;
    const char *begin = text.c_str();
    if (std::isspace(static_cast<unsigned char>(*begin))) return std::nullopt;
    char *end = nullptr;
    errno = 0;
    long long v = std::strtoll(begin, &end, 10);
    if (errno == ERANGE || *end != 0 || end == begin) return std::nullopt;
    if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(v);
}

namespace {

std::string not_an_int(const std::string &flag, const std::string &value)
{
    return "value of " + flag + " is not a signed 32-bit integer: '" + value + "'";
}

} // namespace

std::optional<std::string> parse_options(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        auto value = [&](std::string &out) -> bool {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        bool handled = false;
        for (const InputField &f : kInputFields) {
            if (flag != f.flag) continue;
            if (!value(v)) return flag + " needs a value";
            auto n = parse_int32(v);
            if (!n) return not_an_int(flag, v);
            options.inputs.*f.field = *n;
            handled = true;
        }
        if (handled) continue;
        if (flag == "--json") options.json = true;
        else if (flag == "--batch") options.batch = true;
        else if (flag == "--help" || flag == "-h") options.help = true;
        else if (flag == "--status") {
            if (!value(v)) return flag + " needs a value";
            auto n = parse_int32(v);
            if (!n || *n < 0 || *n > 255) return "value of --status is not an integer from 0 to 255: '" + v + "'";
            options.error.status = static_cast<uint8_t>(*n);
        } else if (flag == "--code") {
            if (!value(v)) return flag + " needs a value";
            auto n = parse_int32(v);
            if (!n) return not_an_int(flag, v);
            options.error.code = *n;
        } else if (flag == "--source") {
            if (!value(options.error.source)) return flag + " needs a value";
        } else if (flag == "--module") {
            if (!value(options.module_path)) return flag + " needs a value";
        } else {
            bool takes_value = false;
            if (!extension_flag(flag, takes_value)) return "unknown flag: " + flag;
            options.extra.push_back(flag);
            if (takes_value) {
                if (!value(v)) return flag + " needs a value";
                options.extra.push_back(v);
            }
        }
    }
    return std::nullopt;
}

void print_usage()
{
    std::puts(
        "usage: cnode-run [inputs] [incoming error] [--json | --batch] [--module PATH]\n"
        "  inputs (signed 32-bit integers):\n"
        "    --label N (1) --err-code N (0) --samp N (1) --freq N (1) --cap N (1)\n"
        "    --loss N (1) --volt N (1) --size N (16)\n"
        "  incoming error cluster: --status 0..255 --code N --source TEXT\n"
        "  --json    print one JSON object with the eight positions and the error cluster\n"
        "  --batch   read JSON Lines from standard input, run the node once per line on\n"
        "            one instance, write one JSON object per line\n"
        "  --module  load another node module instead of parse_measurement.dll\n"
        "  debugging (one call, unattended; stops are printed, or listed under \"stops\" with --json):\n"
        "    --break N[,M...]           hold the node at those stoppoint entries (1 to 41)\n"
        "    --step into|next|over|out  step from the first stop (from entry 1 without --break)\n"
        "    --abort-at N               a second thread requests the abort at entry N (code 1039)\n"
        "    --fault-at N               the node's thread faults at entry N (code 1138)\n"
        "    --trace                    print every debugger message; alone, as a native debugger sees them\n"
        "exit status: 0 all calls came back with status 0, 1 an error was reported, 2 bad usage");
}

} // namespace cnode_run
