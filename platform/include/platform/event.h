#pragma once
// Auto-reset events: an eventfd whose counter is the signal. Setting an event
// that is already set changes nothing (two sets before a wait wake one wait),
// and a wait that returns for the event consumes the signal, so each set wakes
// at most one waiter. Waiters therefore re-check the state they wait for
// (queue count, bytes available) instead of counting wake-ups.
// Waiting is done with WaitForHandle / WaitForHandles (wait.h).

namespace platform {

// Creates an unset event. inheritable = the handle survives exec into helpers;
// otherwise close-on-exec. Returns the handle, or -1 with errno set.
int CreateEvent(bool inheritable);

// Sets the event. Returns 0 or an errno value (EBADF for a closed handle).
int SetEvent(int event);

// Clears the event without waiting. Returns 0 or an errno value.
int ResetEvent(int event);

void CloseEvent(int event);

} // namespace platform
