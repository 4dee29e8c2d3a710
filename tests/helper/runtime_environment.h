/* The helper runtime linked into a test program: started once for the whole
 * program as the module's loader would start it, with the host memory
 * manager (linked, so already loaded) bound by a first entry. */
#pragma once
#include <gtest/gtest.h>
#include <windows.h>
#include "cnode_helper.h"
#include "helper_internal.h"
#include "standin_memory.h"
#include "standin_rte.h"

namespace helper_test {

/* A registered instance of its own for one test; unreserved at the end. */
class Instance {
public:
    Instance() : key_(new char) {}
    ~Instance()
    {
        __cnode_on_unreserve(key_);
        delete key_;
    }
    Instance(const Instance &) = delete;
    Instance &operator=(const Instance &) = delete;
    void *get() const { return key_; }
    /* Registers the instance as the frame does at the start of a call. */
    bool enter() const { return __cnode_helper_initialize(key_, nullptr) != 0; }

private:
    char *key_;
};

/* The registry's record of an instance (zeros when it is not held) and
 * whether the registry holds it. */
struct Registered {
    cnode_helper::InstanceRecord record{};
    bool held = false;
};

inline Registered registered(void *instance)
{
    Registered r;
    cnode_helper::RegistryLock lock;
    if (!lock.held()) return r;
    r.held = cnode_helper::holds_instance(instance);
    cnode_helper::read_record(instance, r.record);
    return r;
}

/* Stand-in state back to its start values after each test. */
class HelperTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        standin_rte_reset();
        standin_mem_reset();
    }
};

} // namespace helper_test
