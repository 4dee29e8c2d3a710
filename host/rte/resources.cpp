/* Resource tracking: a live record (pointer, category, description) for every
 * resource the engine tracks. Explicit records come from __QEX_Resource_Acquire;
 * implicit ones from engine allocations made while tracking is on. */
#include "rte_internal.h"
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Resource {
    void *pointer;
    std::string category;
    std::string description;
};

std::vector<Resource> &live()
{
    static std::vector<Resource> table;
    return table;
}

void remember(void *pointer, std::string category, std::string description)
{
    rte::TableLock guard;
    for (auto &r : live())
        if (r.pointer == pointer) {
            r.category = std::move(category);
            r.description = std::move(description);
            return;
        }
    live().push_back({pointer, std::move(category), std::move(description)});
}

bool forget(const void *pointer)
{
    rte::TableLock guard;
    auto &table = live();
    for (size_t i = 0; i < table.size(); ++i)
        if (table[i].pointer == pointer) {
            table.erase(table.begin() + static_cast<std::ptrdiff_t>(i));
            return true;
        }
    return false;
}

void copy_out(const std::string &s, char *buf, size_t size)
{
    if (!buf || !size) return;
    size_t n = s.size() < size - 1 ? s.size() : size - 1;
    std::memcpy(buf, s.data(), n);
    buf[n] = 0;
}

} // namespace

/* The description is formatted by the Windows C runtime's rules (%Iu, %p), as
 * the engine formats it. */
extern "C" int standin_Resource_Acquire(void *resource, const char *category, const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(text, sizeof text - 1, format ? format : "", args);
    va_end(args);
    text[sizeof text - 1] = 0;
    if (n < 0) text[sizeof text - 1] = 0;
    remember(resource, category ? category : "", text);
    return 0;
}

extern "C" int standin_Resource_Release(void *resource) { return forget(resource) ? 0 : -1; }

void rte::track_implicit(void *block, size_t size)
{
    char text[64];
    std::snprintf(text, sizeof text, "Memory block of %llu bytes", static_cast<unsigned long long>(size));
    remember(block, "Memory", text);
}

void rte::untrack_block(void *block) { forget(block); }

extern "C" size_t standin_rte_resource_count(void)
{
    rte::TableLock guard;
    return live().size();
}

extern "C" int standin_rte_resource_at(size_t i, void **resource, char *category, size_t category_size,
                                       char *description, size_t description_size)
{
    rte::TableLock guard;
    if (i >= live().size()) return -1;
    const Resource &r = live()[i];
    if (resource) *resource = r.pointer;
    copy_out(r.category, category, category_size);
    copy_out(r.description, description, description_size);
    return 0;
}

extern "C" int standin_rte_resource_find(const void *resource, char *description, size_t description_size)
{
    rte::TableLock guard;
    for (auto &r : live())
        if (r.pointer == resource) {
            copy_out(r.description, description, description_size);
            return 0;
        }
    return -1;
}
