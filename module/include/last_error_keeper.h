/* LastErrorKeeper: restores the thread's last-error value on every path out of
 * a scope. The debugger hooks, stoppoints and abort checks run between a
 * failing Windows call in node code and that code's GetLastError, so they must
 * leave the value as they found it. For the module's own C++ units. */
#pragma once
#include <windows.h>

class LastErrorKeeper {
public:
    LastErrorKeeper() : saved_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(saved_); }
    LastErrorKeeper(const LastErrorKeeper &) = delete;
    LastErrorKeeper &operator=(const LastErrorKeeper &) = delete;

private:
    DWORD saved_;
};
