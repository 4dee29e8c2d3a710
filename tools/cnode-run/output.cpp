/* The two output formats of cnode-run. The positions appear in the order of
 * the reply line's fields, under their terminal names. */
#include "output.h"
#include <cstdio>

namespace cnode_run {

namespace {
struct Position {
    const char *name;
    int32_t Outputs::*field;
};
constexpr Position kPositions[] = {
    {"samp_indx", &Outputs::samp_indx},         {"freq_indx", &Outputs::freq_indx},
    {"cap_indx", &Outputs::cap_indx},           {"loss_indx", &Outputs::loss_indx},
    {"unit_indx", &Outputs::unit_indx},         {"volt_indx", &Outputs::volt_indx},
    {"err_code_indx", &Outputs::err_code_indx}, {"err_msg_indx", &Outputs::err_msg_indx},
};
} // namespace

nlohmann::ordered_json to_json(const Outputs &out)
{
    nlohmann::ordered_json j;
    for (const Position &p : kPositions) j[p.name] = out.*p.field;
    j["error"] = {{"status", out.status}, {"code", out.code}, {"source", out.source}};
    return j;
}

std::string json_line(const nlohmann::ordered_json &value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void print_table(const Outputs &out)
{
    for (const Position &p : kPositions) std::printf("%-14s %11d\n", p.name, out.*p.field);
    std::printf("%-14s status %u, code %d, source %s\n", "error", static_cast<unsigned>(out.status), out.code,
                json_line(out.source).c_str());
}

} // namespace cnode_run
