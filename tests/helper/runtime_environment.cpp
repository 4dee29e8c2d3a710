/* Starts the helper runtime once for the test program and stops it at the end. */
#include "runtime_environment.h"

namespace {

class HelperRuntime : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_TRUE(__cnode_helper_DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_ATTACH, nullptr));
        char anchor = 0;
        __cnode_on_reserve(&anchor);
        ASSERT_NE(__qex_cnode_abort_tlv_handle, 0);
        ASSERT_EQ(__cnode_helper_initialize(&anchor, nullptr), 1) << "the linked memory manager was not bound";
        __cnode_on_unreserve(&anchor);
    }
    void TearDown() override { __cnode_helper_DllMain(GetModuleHandleA(nullptr), DLL_PROCESS_DETACH, nullptr); }
};

const auto *const g_runtime = ::testing::AddGlobalTestEnvironment(new HelperRuntime);

} // namespace
