/* A module linked exactly as the node module is (the module's objects from
 * its static library, entered through the loader entry) plus one static
 * object whose construction and destruction the engine stand-in's life-cycle
 * log records: it shows that the loader entry runs the C++ runtime's
 * constructors before any module code and its destructors after all of it. */
#include "standin_rte_startup.h"

namespace {

struct StaticObject {
    StaticObject() { standin_rte_lifecycle_note("static object constructed"); }
    ~StaticObject() { standin_rte_lifecycle_note("static object destroyed"); }
};

StaticObject g_static_object;

} // namespace
