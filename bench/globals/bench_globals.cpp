/* The toolbox thread record's look-up: thread_record(), which reads the
 * thread's cached address from a Windows thread-local slot, against asking the
 * engine for the record each time (CmtGetThreadLocalVar), in the same run. */
#include <cstdio>
#include "../../module/toolbox/toolbox_globals.h"
#include "cnode_startup.h"
#include "harness.h"

int main()
{
    _InitExitLib(); /* the loader entry does this in the DLL */
    toolbox::thread_record();
    constexpr long kOps = 1000000;
    auto cached = [](long n) {
        for (long i = 0; i < n; ++i) bench::keep(toolbox::thread_record());
    };
    auto engine = [](long n) {
        for (long i = 0; i < n; ++i) {
            void *record = nullptr;
            CmtGetThreadLocalVar(toolbox::g_thread_record_variable, &record);
            bench::keep(record);
        }
    };
    bench::Paired p = bench::paired_median_ns_per_op(cached, kOps, engine, kOps);
    std::printf("toolbox thread record (ratio = cached / engine look-up; below 1 is faster)\n");
    bench::report("thread_record (cached in a TLS slot)", p.subject_ns, "CmtGetThreadLocalVar", p.baseline_ns);
    return 0;
}
