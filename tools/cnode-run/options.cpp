/* cnode-run's command line, declared to CLI11: every numeric flag takes a
 * signed 32-bit decimal integer (no sign-less hex or octal, no blanks), a
 * repeated flag takes its last value, and anything the library refuses is bad
 * usage (exit status 2) with the library's message. */
#include "options.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include "extensions.h"

namespace cnode_run {

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

CLI::Validator range_check(int32_t lo, int32_t hi, const std::string &what)
{
    return CLI::Validator(
        [lo, hi, what](std::string &text) -> std::string {
            auto n = parse_int32(text);
            if (n && *n >= lo && *n <= hi) return {};
            return "not " + what + ": '" + text + "'";
        },
        "", "");
}

const char kDescription[] =
    "Runs the node module in a host of its own: once with the inputs given here,\n"
    "or once per line of standard input with --batch.";

const char kFooter[] =
    "Batch lines are JSON objects with any of the members label, err_code, samp,\n"
    "freq, cap, loss, volt, size (signed 32-bit integers) and the incoming error\n"
    "as status (0..255), code and source, flat or nested under \"error\" as the\n"
    "output writes it; a line of batch output is itself a valid input line (its\n"
    "positions are ignored). The input flags given with --batch are the defaults\n"
    "of every line; a line's own members win. Each output line answers one input\n"
    "line, in input order; a malformed line is answered with {\"line\":N,\n"
    "\"problem\":TEXT} and the run goes on. Output lines end in LF.\n"
    "\n"
    "Exit status: 0 every call came back with status 0; 1 a call reported an\n"
    "error; 2 bad usage, or the engine, the memory manager or the module could\n"
    "not be loaded (the reason is on standard error); 3 the output could not be\n"
    "written or the batch input not read (the reason is on standard error); 4 a\n"
    "batch line was malformed (4 wins over 1, 3 over both).";

} // namespace

Parsed parse_options(const std::vector<std::string> &args, Options &options, std::string &help_text,
                     std::string &problem)
{
    CLI::App app(kDescription, "cnode-run");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.get_formatter()->column_width(30);
    app.footer(kFooter);

    const CLI::Validator int32 = range_check(INT32_MIN, INT32_MAX, "a signed 32-bit decimal integer");
    const Inputs defaults;
    for (const InputField &f : kInputFields) {
        int32_t Inputs::*field = f.field;
        app.add_option_function<std::string>(
               f.flag, [&options, field](const std::string &v) { options.inputs.*field = *parse_int32(v); },
               "node input (default " + std::to_string(defaults.*field) + ")")
            ->type_name("N")
            ->check(int32)
            ->group("Inputs (signed 32-bit integers)");
    }
    const char kErrorGroup[] = "Incoming error cluster";
    app.add_option_function<std::string>(
           "--status", [&options](const std::string &v) { options.error.status = static_cast<uint8_t>(*parse_int32(v)); },
           "status (default 0; not 0 skips the node)")
        ->type_name("0..255")
        ->check(range_check(0, 255, "an integer from 0 to 255"))
        ->group(kErrorGroup);
    app.add_option_function<std::string>(
           "--code", [&options](const std::string &v) { options.error.code = *parse_int32(v); }, "code (default 0)")
        ->type_name("N")
        ->check(int32)
        ->group(kErrorGroup);
    app.add_option("--source", options.error.source, "source text (default empty)")
        ->type_name("TEXT")
        ->group(kErrorGroup);

    app.add_flag("--json", options.json, "print one JSON object with the eight positions and the error cluster");
    CLI::Option *batch = app.add_flag("--batch", options.batch,
                                      "read JSON Lines from standard input, run the node once per line, write "
                                      "one JSON object per line; the input flags are every line's defaults");
    app.add_option_function<std::string>(
           "--threads", [&options](const std::string &v) { options.threads = static_cast<unsigned>(*parse_int32(v)); },
           "with --batch: worker threads, each with an instance of its own (default 1; 0: one per processor); "
           "the output keeps the input's order")
        ->type_name("N")
        ->check(range_check(0, 256, "a thread count from 0 to 256"))
        ->needs(batch);
    app.add_option("--module", options.module_path, "load another node module instead of parse_measurement.dll")
        ->type_name("PATH");

    /* The extensions' flags keep their values as text; the extension checks them. */
    std::vector<std::pair<const ExtensionFlag *, CLI::Option *>> extension_options;
    std::vector<std::vector<std::string>> extension_values(extension_flags().size());
    for (size_t i = 0; i < extension_flags().size(); ++i) {
        const ExtensionFlag &f = extension_flags()[i];
        CLI::Option *o = f.value_name ? app.add_option(f.name, extension_values[i], f.help)
                                            ->type_name(f.value_name)
                                            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                                      : app.add_flag(f.name, f.help);
        o->group(f.group);
        extension_options.emplace_back(&f, o);
    }

    std::vector<std::string> reversed(args.rbegin(), args.rend()); /* CLI11 takes them last first */
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp &) {
        help_text = app.help();
        return Parsed::Help;
    } catch (const CLI::ParseError &e) {
        problem = e.what();
        return Parsed::Usage;
    }

    /* Extension flags in the order they were given, each with its value. */
    std::vector<size_t> taken(extension_options.size(), 0);
    for (const CLI::Option *given : app.parse_order())
        for (size_t i = 0; i < extension_options.size(); ++i) {
            if (extension_options[i].second != given) continue;
            options.extra.push_back(extension_options[i].first->name);
            if (extension_options[i].first->value_name) {
                const std::vector<std::string> &values = extension_values[i];
                if (taken[i] < values.size()) options.extra.push_back(values[taken[i]++]);
            }
        }
    return Parsed::Run;
}

} // namespace cnode_run
