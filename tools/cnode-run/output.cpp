/* The two output formats of cnode-run. The positions appear in the order of
 * the reply line's fields, under their terminal names. Batch lines are
 * appended member by member; they are the same bytes as the object's dump
 * (strings go through the JSON library's own serializer). */
#include "output.h"
#include <charconv>
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

void append_number(std::string &text, long long value)
{
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    text.append(digits, end);
}

void append_string(std::string &text, const std::string &value)
{
    if (value.empty()) {
        text += "\"\"";
        return;
    }
    nlohmann::json::string_t out;
    nlohmann::detail::serializer<nlohmann::json> s(nlohmann::detail::output_adapter<char>(out), ' ',
                                                   nlohmann::json::error_handler_t::replace);
    s.dump(nlohmann::json(value), false, false, 0);
    text += out;
}
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

void append_json_line(std::string &text, const Outputs &out)
{
    char sep = '{';
    for (const Position &p : kPositions) {
        text += sep;
        text += '"';
        text += p.name;
        text += "\":";
        append_number(text, out.*p.field);
        sep = ',';
    }
    text += ",\"error\":{\"status\":";
    append_number(text, out.status);
    text += ",\"code\":";
    append_number(text, out.code);
    text += ",\"source\":";
    append_string(text, out.source);
    text += "}}\n";
}

void append_problem_line(std::string &text, long line, const std::string &problem)
{
    text += "{\"line\":";
    append_number(text, line);
    text += ",\"problem\":";
    append_string(text, problem);
    text += "}\n";
}

void print_table(const Outputs &out)
{
    for (const Position &p : kPositions) std::printf("%-14s %11d\n", p.name, out.*p.field);
    std::printf("%-14s status %u, code %d, source %s\n", "error", static_cast<unsigned>(out.status), out.code,
                json_line(out.source).c_str());
}

} // namespace cnode_run
