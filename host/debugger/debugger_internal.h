/* Shared internals of the debugger-library stand-in: the log, the arrival
 * bookkeeping and the readers of the engine's thread environment. */
#pragma once
#define STANDIN_DBG_BUILDING
#include <windows.h>
#include <cstdint>
#include <string>
#include "standin_debugger.h"

namespace dbg {

/* Appends one line to the log. */
void log(std::string line);
/* printf-style formatting into a std::string. */
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/* Records an arrival of the calling thread; faults or holds it as requested. */
void arrive(int kind);

/* Where the calling thread stands, read on that thread. */
void read_thread_position(standin_dbg_stop_t &stop);

/* The calling thread's debug thread environment from the engine, or null. */
unsigned char *thread_environment();

/* Waits for a held arrival of one thread not reported before and reports it. */
bool wait_stop_of(uint32_t thread_id, uint32_t timeout_ms, standin_dbg_stop_t &stop);

void reset_arrivals();
void reset_log();

} // namespace dbg
