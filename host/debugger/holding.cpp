/* Arrivals at the barrier and the break: the stand-in's way of holding a node
 * thread for a controlling thread.
 *
 * Each arrival is numbered and records where its thread stands. A held
 * arrival keeps its thread waiting on a condition variable until the
 * controller releases it; the controller learns of it through
 * standin_dbg_wait_stop, which hands out each held arrival once. One lock
 * guards the arrival list, the counts, the holding modes and the fault
 * request; it is never held while a thread faults. */
#include "debugger_internal.h"
#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>

namespace {

struct Arrival {
    standin_dbg_stop_t stop;
    bool reported = false;
    bool released = false;
};

std::mutex g_lock;
std::condition_variable g_changed; /* an arrival came or went */
std::list<Arrival> g_held;         /* held arrivals, oldest first */
uint64_t g_next_id = 1;
long g_barriers = 0, g_breaks = 0;
bool g_hold_barrier = false, g_hold_break = true;
bool g_fault_armed = false;
uint32_t g_fault_thread = 0;
volatile unsigned char *g_fault_entry = nullptr;

/* An address that is never mapped: the barrier's write there is an access
 * violation. Kept in a volatile so the write is really made. */
int *volatile g_unmapped = reinterpret_cast<int *>(static_cast<uintptr_t>(0x10));

bool take_fault(const standin_dbg_stop_t &stop)
{
    if (!g_fault_armed || (g_fault_thread != 0 && g_fault_thread != stop.thread_id) ||
        (g_fault_entry != nullptr && g_fault_entry != stop.entry))
        return false;
    g_fault_armed = false;
    return true;
}

} // namespace

void dbg::arrive(int kind)
{
    standin_dbg_stop_t stop{};
    stop.thread_id = GetCurrentThreadId();
    stop.kind = kind;
    read_thread_position(stop);

    std::unique_lock<std::mutex> lock(g_lock);
    stop.id = g_next_id++;
    (kind == STANDIN_DBG_BARRIER ? g_barriers : g_breaks) += 1;
    if (kind == STANDIN_DBG_BARRIER && take_fault(stop)) {
        lock.unlock();
        *g_unmapped = 1;
        return;
    }
    bool hold = kind == STANDIN_DBG_BARRIER ? g_hold_barrier : g_hold_break;
    if (!hold) return;
    auto it = g_held.insert(g_held.end(), Arrival{stop});
    g_changed.notify_all();
    g_changed.wait(lock, [&] { return it->released; });
    g_held.erase(it);
    g_changed.notify_all();
}

void dbg::reset_arrivals()
{
    std::lock_guard<std::mutex> guard(g_lock);
    for (Arrival &a : g_held) a.released = true;
    g_barriers = g_breaks = 0;
    g_hold_barrier = false;
    g_hold_break = true;
    g_fault_armed = false;
    g_fault_thread = 0;
    g_fault_entry = nullptr;
    g_changed.notify_all();
}

extern "C" void standin_dbg_hold(int at_barrier, int at_break)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_hold_barrier = at_barrier != 0;
    g_hold_break = at_break != 0;
}

extern "C" int standin_dbg_wait_stop(uint32_t timeout_ms, standin_dbg_stop_t *stop)
{
    std::unique_lock<std::mutex> lock(g_lock);
    auto unreported = [] {
        return std::find_if(g_held.begin(), g_held.end(),
                            [](const Arrival &a) { return !a.reported && !a.released; });
    };
    if (!g_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return unreported() != g_held.end(); }))
        return 0;
    auto it = unreported();
    it->reported = true;
    if (stop) *stop = it->stop;
    return 1;
}

bool dbg::wait_stop_of(uint32_t thread_id, uint32_t timeout_ms, standin_dbg_stop_t &stop)
{
    std::unique_lock<std::mutex> lock(g_lock);
    auto unreported = [&] {
        return std::find_if(g_held.begin(), g_held.end(), [&](const Arrival &a) {
            return !a.reported && !a.released && a.stop.thread_id == thread_id;
        });
    };
    if (!g_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return unreported() != g_held.end(); }))
        return false;
    auto it = unreported();
    it->reported = true;
    stop = it->stop;
    return true;
}

extern "C" int standin_dbg_release(uint64_t id)
{
    std::lock_guard<std::mutex> guard(g_lock);
    for (Arrival &a : g_held)
        if (a.stop.id == id && !a.released) {
            a.released = true;
            g_changed.notify_all();
            return 1;
        }
    return 0;
}

extern "C" void standin_dbg_release_all(void)
{
    std::lock_guard<std::mutex> guard(g_lock);
    for (Arrival &a : g_held) a.released = true;
    g_changed.notify_all();
}

extern "C" size_t standin_dbg_held_count(void)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return static_cast<size_t>(std::count_if(g_held.begin(), g_held.end(), [](const Arrival &a) { return !a.released; }));
}

extern "C" long standin_dbg_arrivals(int kind)
{
    std::lock_guard<std::mutex> guard(g_lock);
    return kind == STANDIN_DBG_BARRIER ? g_barriers : kind == STANDIN_DBG_BREAK ? g_breaks : 0;
}

extern "C" void standin_dbg_fault_next_barrier(uint32_t thread_id, volatile unsigned char *entry)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_fault_armed = true;
    g_fault_thread = thread_id;
    g_fault_entry = entry;
}

extern "C" void standin_dbg_reset(void)
{
    dbg::reset_arrivals();
    dbg::reset_log();
    standin_dbg_clear_control_block();
}
