/* How cnode-run shows the result of a call: a readable table or one JSON object. */
#pragma once
#include <nlohmann/json.hpp>
#include <string>
#include "host.h"

namespace cnode_run {

nlohmann::ordered_json to_json(const Outputs &out);
/* One line of JSON; text that is not valid UTF-8 is replaced, never an error. */
std::string json_line(const nlohmann::ordered_json &value);
void print_table(const Outputs &out);

} // namespace cnode_run
