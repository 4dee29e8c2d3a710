/* LastErrorKeeper: restores the thread's last-error value on every path out of
 * a scope. The debugger hooks, stoppoints and abort checks run between a
 * failing Windows call in node code and that code's GetLastError, so they must
 * leave the value as they found it. For the module's own C++ units. The value
 * is read and written in the thread's own record, as GetLastError and
 * SetLastError do, since keepers run at every export's entry and exit. */
#pragma once
#include <windows.h>
#include "thread_block.h"

class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(thread_block::last_error()) {}
    ~LastErrorKeeper() { thread_block::set_last_error(saved_); }
    LastErrorKeeper(const LastErrorKeeper &) = delete;
    LastErrorKeeper &operator=(const LastErrorKeeper &) = delete;

private:
    DWORD saved_;
};
