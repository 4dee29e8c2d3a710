/* Parsing of cnode-run's debugging flags. */
#include <cstring>
#include <sstream>
#include "debug_session.h"
#include "node_points.h"

namespace cnode_run {

namespace {

struct StepName {
    const char *name;
    int type;
};
constexpr StepName kStepNames[] = {{"into", 1}, {"next", 2}, {"out", 3}, {"over", 4}};

std::optional<std::string> parse_entry(const std::string &flag, const std::string &text, int &entry)
{
    auto n = parse_int32(text);
    if (!n || *n < kFirstEntry || *n > kLastEntry)
        return "value of " + flag + " is not a stoppoint entry from 1 to 41: '" + text + "'";
    entry = *n;
    return std::nullopt;
}

} // namespace

bool is_debug_flag(const std::string &flag, bool &takes_value)
{
    takes_value = flag == "--break" || flag == "--step" || flag == "--abort-at" || flag == "--fault-at";
    return takes_value || flag == "--trace";
}

std::optional<std::string> parse_debug_flags(const std::vector<std::string> &extra, DebugRequest &request)
{
    for (size_t i = 0; i < extra.size(); ++i) {
        const std::string &flag = extra[i];
        bool takes_value = false;
        if (!is_debug_flag(flag, takes_value)) return "unknown flag: " + flag;
        if (!takes_value) {
            request.trace = true;
            continue;
        }
        if (i + 1 >= extra.size()) return flag + " needs a value";
        const std::string &value = extra[++i];
        if (flag == "--break") {
            std::stringstream list(value);
            std::string item;
            while (std::getline(list, item, ',')) {
                int entry = 0;
                if (auto problem = parse_entry(flag, item, entry)) return problem;
                request.breaks.push_back(entry);
            }
            if (request.breaks.empty()) return "value of --break names no entry";
        } else if (flag == "--step") {
            request.step = 0;
            for (const StepName &s : kStepNames)
                if (value == s.name) request.step = s.type;
            if (request.step == 0) return "value of --step is not into, next, over or out: '" + value + "'";
        } else if (flag == "--abort-at") {
            if (auto problem = parse_entry(flag, value, request.abort_at)) return problem;
        } else if (auto problem = parse_entry(flag, value, request.fault_at)) {
            return problem;
        }
    }
    return std::nullopt;
}

} // namespace cnode_run
