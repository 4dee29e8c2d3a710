/* Command-line options of cnode-run. */
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cnode_run {

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
    Inputs inputs;
    IncomingError error;
    std::string module_path; /* empty: parse_measurement.dll beside cnode-run */
    bool json = false;
    bool batch = false;
    bool help = false;
    /* Flags the core does not know, handed to extensions (e.g. debugging) in order. */
    std::vector<std::string> extra;
};

/* Parses a signed 32-bit decimal integer; nullopt unless the whole text is one. */
std::optional<int32_t> parse_int32(const std::string &text);

/* Parses argv into options. Returns an error message for bad usage. Flags that
 * an extension claims (see extension_takes_value) are kept in Options::extra. */
std::optional<std::string> parse_options(int argc, char **argv, Options &options);

void print_usage();

} // namespace cnode_run
