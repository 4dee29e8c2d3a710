/* The three instance callbacks the run-time engine calls by name: each is a
 * thin frame that hands the instance to the helper runtime and returns 0. */
#include "cnode.h"
#include "cnode_helper.h"

extern "C" int32_t __cnode_reserve_callback(void *instance)
{
    __cnode_on_reserve(instance);
    return 0;
}

extern "C" int32_t __cnode_unreserve_callback(void *instance)
{
    __cnode_on_unreserve(instance);
    return 0;
}

extern "C" int32_t __cnode_abort_callback(void *instance)
{
    __cnode_on_abort(instance);
    return 0;
}
