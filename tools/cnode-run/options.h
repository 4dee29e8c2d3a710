/* Command-line options of cnode-run. */
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cnode_run {

/* The exit statuses, as --help and the README document them. */
constexpr int kExitOk = 0;        /* every call came back with status 0 */
constexpr int kExitError = 1;     /* a call reported an error (status not 0) */
constexpr int kExitUsage = 2;     /* bad usage, or a host that cannot be set up */
constexpr int kExitWrite = 3;     /* the output could not be written (the reason is on stderr) */
constexpr int kExitMalformed = 4; /* a batch line was malformed (it was reported and skipped) */

/* The node's eight inputs, with the terminals' defaults. */
struct Inputs {
    int32_t label = 1, err_code = 0, samp = 1, freq = 1, cap = 1, loss = 1, volt = 1, size = 16;
};

/* The incoming error cluster. */
struct IncomingError {
    uint8_t status = 0;
    int32_t code = 0;
    std::string source;
};

/* Each input under its flag and its name in a batch line. */
struct InputField {
    const char *flag;
    const char *key;
    int32_t Inputs::*field;
};
inline constexpr InputField kInputFields[] = {
    {"--label", "label", &Inputs::label}, {"--err-code", "err_code", &Inputs::err_code},
    {"--samp", "samp", &Inputs::samp},    {"--freq", "freq", &Inputs::freq},
    {"--cap", "cap", &Inputs::cap},       {"--loss", "loss", &Inputs::loss},
    {"--volt", "volt", &Inputs::volt},    {"--size", "size", &Inputs::size},
};

struct Options {
    /* Single runs take these; with --batch they are every line's defaults. */
    Inputs inputs;
    IncomingError error;
    std::string module_path; /* UTF-8; empty: parse_measurement.dll beside cnode-run */
    bool json = false;
    bool batch = false;
    unsigned threads = 1; /* batch worker threads; 0 asks for one per processor */
    /* Flags the core does not know, handed to extensions (e.g. debugging):
     * each flag, followed by its value when it takes one. */
    std::vector<std::string> extra;
};

/* Parses a signed 32-bit decimal integer; nullopt unless the whole text is one. */
std::optional<int32_t> parse_int32(const std::string &text);

/* What parse_options found: options to run with, a request for help (the
 * text is in help_text), or bad usage (the message is in problem). */
enum class Parsed { Run, Help, Usage };

/* Parses the arguments (UTF-8, without the program name). */
Parsed parse_options(const std::vector<std::string> &args, Options &options, std::string &help_text,
                     std::string &problem);

} // namespace cnode_run
