#pragma once
// The mutex shared with a helper process: a pthread mutex living in its own
// small shared block, process-shared and robust. Like a Windows mutex it is
// recursive (the owning thread may lock it again and must unlock as often) and
// it is never lost with a dead owner: when the holder dies, the next locker
// gets it (abandoned) and the mutex is made consistent again.
#include <pthread.h>

namespace platform {

struct SharedMutex {
    int handle = -1;                  // the block's memfd; travels like any handle
    pthread_mutex_t* mutex = nullptr; // inside the mapped block
};

// Creates an unowned mutex. inheritable = the handle survives exec into
// helpers. Returns 0 or an errno value.
int CreateSharedMutex(bool inheritable, SharedMutex* out);

// Opens the mutex behind a handle created by CreateSharedMutex in this or
// another process. *out owns the handle from now on. Returns 0 or an errno
// value (EINVAL when the block is too small to hold a mutex).
int OpenSharedMutex(int handle, SharedMutex* out);

// Locks, waiting at most timeoutMs (0 = try once, -1 = without time-out).
// Returns 0 when acquired, ETIMEDOUT, or another errno value. A mutex whose
// owner died holding it counts as acquired; *abandoned (optional) tells so.
// The data it guards may then be half-written, as on Windows.
int LockSharedMutex(SharedMutex& m, int timeoutMs, bool* abandoned = nullptr);

// Returns 0, or EPERM when the calling thread does not own the mutex.
int UnlockSharedMutex(SharedMutex& m);

// Unmaps and closes this process's handle; the mutex lives on while another
// process still has it.
void CloseSharedMutex(SharedMutex* m);

} // namespace platform
