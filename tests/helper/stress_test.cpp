/* Stress through the real DLL: several threads call the entry point on
 * several instances (an instance runs one call at a time but moves between
 * threads), while other threads abort, reserve and unreserve instances at
 * random, unreserving also instances whose call is running. A quarter of the
 * calls also request their own abort the moment their user-code window opens
 * (through the engine stand-in's lock hook), so that aborts land inside
 * running texts however short the window is next to the rest of a call.
 * Bounded in time.
 * Every call must end with the right outputs or with code 1039, nothing may
 * hang, no abort may stay counted, and the engine's allocator and the host's
 * handles must balance once every instance is unreserved. */
#include <atomic>
#include <mutex>
#include <random>
#include <vector>
#include "module_fixture.h"

using namespace helper_test;

namespace {

constexpr int kInstances = 6;
constexpr int kCallers = 3;
constexpr int kAborters = 2;
constexpr DWORD kRunMs = 3000;         /* then stop once some call was aborted ... */
constexpr DWORD kLongestRunMs = 15000; /* ... or at the latest here */
constexpr DWORD kHangMs = 60000;

struct Tally {
    std::atomic<long> completed{0}, aborted{0}, skipped{0}, wrong{0};
    std::mutex mutex;
    std::string first_wrong;
    void record_wrong(const std::string &what)
    {
        if (wrong++ == 0) {
            std::lock_guard<std::mutex> lock(mutex);
            first_wrong = what;
        }
    }
};

struct Shared {
    testing_support::NodeModule *module;
    char instances[kInstances] = {};
    std::atomic<int> busy[kInstances] = {};
    std::atomic<bool> stop{false};
    Tally tally;
};

model::In random_inputs(std::mt19937 &random)
{
    std::uniform_int_distribution<int32_t> small(-2, 3), size(0, 30);
    return {small(random), small(random), small(random), small(random),
            small(random), small(random), small(random), size(random)};
}

/* The instance whose call on this thread asks for its own abort, if any. */
thread_local char *t_inject_abort_for = nullptr;
thread_local bool t_in_hook = false;
__cnode_callback_t g_abort = nullptr;

void inject_abort(int, void *)
{
    if (!t_inject_abort_for || t_in_hook) return;
    t_in_hook = true; /* the request's own lock release comes back here */
    g_abort(t_inject_abort_for);
    t_in_hook = false;
}

void caller(Shared &shared, unsigned seed)
{
    std::mt19937 random(seed);
    SourceText source("stress source");
    while (!shared.stop) {
        int i = static_cast<int>(random() % kInstances);
        int idle = 0;
        if (!shared.busy[i].compare_exchange_strong(idle, 1)) continue;
        model::In in = random_inputs(random);
        bool error_in = random() % 8 == 0;
        t_inject_abort_for = random() % 4 == 0 ? &shared.instances[i] : nullptr;
        CallResult r = call_entry(shared.module->entry, &shared.instances[i], in, source.handle(), error_in ? 1 : 0,
                                  error_in ? 5 : 0);
        t_inject_abort_for = nullptr;
        shared.busy[i] = 0;
        if (!source.intact()) shared.tally.record_wrong("the source text changed");
        if (error_in) {
            if (r.cluster.status == 1 && r.cluster.code == 5 && same(r.outputs, untouched_outputs()))
                ++shared.tally.skipped;
            else
                shared.tally.record_wrong("an error-in call came back with code " + std::to_string(r.cluster.code));
        } else if (r.cluster.status == 1 && r.cluster.code == 1039) {
            ++shared.tally.aborted;
        } else if (r.cluster.status == 0 && r.cluster.code == 0 && same(r.outputs, expected_outputs(in))) {
            ++shared.tally.completed;
        } else {
            shared.tally.record_wrong("status " + std::to_string(r.cluster.status) + " code " +
                                      std::to_string(r.cluster.code) + " or wrong outputs");
        }
    }
}

void aborter(Shared &shared, unsigned seed)
{
    std::mt19937 random(seed);
    while (!shared.stop) {
        shared.module->abort(&shared.instances[random() % kInstances]);
        if (random() % 4 == 0) Sleep(0);
    }
}

void reserver(Shared &shared, unsigned seed)
{
    std::mt19937 random(seed);
    while (!shared.stop) {
        char *instance = &shared.instances[random() % kInstances];
        if (random() % 2)
            shared.module->reserve(instance);
        else
            shared.module->unreserve(instance);
        Sleep(random() % 3 == 0 ? 1 : 0);
    }
}

class Stress : public ModuleTest {};

TEST_F(Stress, ConcurrentCallsAbortsAndReservationsStayConsistent)
{
    Shared shared;
    shared.module = &module_;
    long handles = standin_mem_live_handles();
    char quiet = 0;
    module_.reserve(&quiet);
    long quiet_lookups = lookups_of_one_call(&quiet);
    module_.unreserve(&quiet);
    long blocks = standin_rte_live_blocks();

    g_abort = module_.abort;
    standin_rte_set_lock_hooks(nullptr, inject_abort, nullptr);
    std::vector<std::thread> threads;
    std::atomic<int> finished{0};
    auto start = [&](void (*body)(Shared &, unsigned), unsigned seed) {
        threads.emplace_back([&, body, seed] {
            body(shared, seed);
            ++finished;
        });
    };
    for (int i = 0; i < kCallers; ++i) start(caller, 100 + i);
    for (int i = 0; i < kAborters; ++i) start(aborter, 200 + i);
    start(reserver, 300);

    DWORD begin = GetTickCount();
    while (GetTickCount() - begin < kLongestRunMs &&
           (GetTickCount() - begin < kRunMs || shared.tally.aborted == 0))
        Sleep(50);
    shared.stop = true;
    while (finished < static_cast<int>(threads.size())) {
        if (GetTickCount() - begin > kLongestRunMs + kHangMs) {
            std::fprintf(stderr, "stress: threads did not finish: a deadlock\n");
            std::fflush(stderr);
            ExitProcess(3);
        }
        Sleep(20);
    }
    for (auto &t : threads) t.join();
    standin_rte_set_lock_hooks(nullptr, nullptr, nullptr);

    const Tally &tally = shared.tally;
    EXPECT_EQ(tally.wrong, 0) << tally.first_wrong;
    EXPECT_GT(tally.completed, 0);
    EXPECT_GT(tally.aborted, 0) << "no abort landed inside a running text";
    EXPECT_GT(tally.skipped, 0);
    std::printf("stress: %ld completed, %ld aborted, %ld skipped\n", tally.completed.load(), tally.aborted.load(),
                tally.skipped.load());

    for (char &instance : shared.instances) module_.unreserve(&instance);
    EXPECT_EQ(standin_rte_live_blocks(), blocks) << "engine blocks left after every instance was unreserved";
    EXPECT_EQ(standin_mem_live_handles(), handles);
    module_.reserve(&quiet);
    EXPECT_EQ(lookups_of_one_call(&quiet), quiet_lookups) << "an abort count was left pending";
    module_.unreserve(&quiet);
}

} // namespace
