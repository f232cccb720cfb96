#pragma once
// Waiting on events (event.h) and helper process handles (process.h), alone or
// mixed in one call, with results shaped like the Windows wait functions.
// - An event is consumed when a wait returns because of it (auto-reset).
// - A process handle becomes signalled when the process has ended and stays
//   signalled; waiting on it consumes nothing.
// The shared mutex (mutex.h) is not a waitable handle; it has its own lock.

namespace platform {

constexpr int kWaitObject0 = 0;   // + index of the handle that ended the wait
constexpr int kWaitTimeout = 258; // the time-out passed first
constexpr int kWaitFailed = -1;   // bad arguments or a bad handle; errno says which
constexpr int kInfinite = -1;     // timeoutMs that never passes
constexpr int kMaxWaitHandles = 64;

// Waits until h is signalled or timeoutMs passes (0 = just test, kInfinite =
// no time-out).
int WaitForHandle(int h, int timeoutMs);

// Waits on n handles (1..kMaxWaitHandles).
// waitAll false: returns kWaitObject0 + the lowest index that is signalled,
//   consuming only that one if it is an event.
// waitAll true: returns kWaitObject0 once every handle is signalled at the
//   same moment; only then are the events among them consumed, all together.
//   An event taken by another waiter in between is not lost: the events this
//   wait already took are set again and the wait goes on.
// A handle listed twice fails with EINVAL, as does a bad count or time-out.
int WaitForHandles(const int* handles, int n, bool waitAll, int timeoutMs);

} // namespace platform
