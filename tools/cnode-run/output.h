/* How cnode-run shows the result of a call: a readable table or one JSON object. */
#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include "host.h"

namespace cnode_run {

nlohmann::ordered_json to_json(const Outputs &out);
/* One line of JSON; text that is not valid UTF-8 is replaced, never an error. */
std::string json_line(const nlohmann::ordered_json &value);
/* Appends json_line(to_json(out)) and a LF, without building the object. */
void append_json_line(std::string &text, const Outputs &out);
/* Appends the answer to a malformed batch line, {"line":N,"problem":TEXT}, and a LF. */
void append_problem_line(std::string &text, long line, const std::string &problem);
void print_table(const Outputs &out);

} // namespace cnode_run
