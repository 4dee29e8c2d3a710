/* Shared pieces of the helper runtime's tests: the engine stand-in's protection
 * log read back as lines, and expected lines built the way the stand-in
 * writes them ("name(arg, arg)", pointers as 0x%016llx, integers in decimal). */
#pragma once
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>
#include "standin_rte.h"

namespace helper_test {

inline std::string hex(const void *pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llx",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}

inline std::string argument_text(const std::string &text) { return text; }
inline std::string argument_text(const char *text) { return text; }
inline std::string argument_text(std::nullptr_t) { return hex(nullptr); }
template <typename T>
std::string argument_text(T *pointer)
{
    return hex(reinterpret_cast<const void *>(pointer));
}
template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
std::string argument_text(T value)
{
    return std::to_string(value);
}

/* The line the stand-in logs for a call of name with these arguments. */
template <typename... Args>
std::string call(const char *name, Args... args)
{
    std::string line = std::string(name) + "(";
    bool first = true;
    ((line += (first ? "" : ", ") + argument_text(args), first = false), ...);
    return line + ")";
}

inline std::vector<std::string> protection_log()
{
    std::vector<std::string> lines;
    size_t count = standin_rte_protection_log_count();
    for (size_t i = 0; i < count; ++i) {
        int length = standin_rte_protection_log_line(i, nullptr, 0);
        std::string line(static_cast<size_t>(length < 0 ? 0 : length) + 1, '\0');
        standin_rte_protection_log_line(i, line.data(), line.size());
        line.resize(line.size() - 1);
        lines.push_back(line);
    }
    return lines;
}

/* True for a pair of bookkeeping words the stand-in filled in one call
 * (0xB0000000 + n and 0xC0000000 + n). */
inline bool filled_bookkeeping_pair(const void *bookkeeping_1, const void *bookkeeping_2)
{
    auto first = reinterpret_cast<uintptr_t>(bookkeeping_1), second = reinterpret_cast<uintptr_t>(bookkeeping_2);
    return first > 0xB0000000u && first < 0xC0000000u && second - 0xC0000000u == first - 0xB0000000u;
}

} // namespace helper_test
