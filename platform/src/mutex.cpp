#include "platform/mutex.h"

#include "platform/shm.h"

#include <cerrno>
#include <ctime>

namespace platform {

namespace {

SharedMutex FromBlock(const SharedBlock& block) {
    return {block.handle, static_cast<pthread_mutex_t*>(block.view)};
}

SharedBlock ToBlock(const SharedMutex& m) {
    return {m.handle, m.mutex, m.mutex ? sizeof(pthread_mutex_t) : 0};
}

int InitMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    int rc = pthread_mutexattr_init(&attr);
    if (rc != 0) return rc;
    rc = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    if (rc == 0) rc = pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    if (rc == 0) rc = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    if (rc == 0) rc = pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
    return rc;
}

timespec MonotonicAfter(int ms) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ms / 1000;
    t.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
    if (t.tv_nsec >= 1000000000L) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000L;
    }
    return t;
}

} // namespace

int CreateSharedMutex(bool inheritable, SharedMutex* out) {
    *out = {};
    SharedBlock block;
    int rc = CreateSharedBlock(sizeof(pthread_mutex_t), inheritable, &block);
    if (rc != 0) return rc;
    rc = InitMutex(static_cast<pthread_mutex_t*>(block.view));
    if (rc != 0) {
        CloseSharedBlock(&block);
        return rc;
    }
    *out = FromBlock(block);
    return 0;
}

int OpenSharedMutex(int handle, SharedMutex* out) {
    *out = {};
    SharedBlock block;
    int rc = MapSharedBlock(handle, sizeof(pthread_mutex_t), &block);
    if (rc == 0) *out = FromBlock(block);
    return rc;
}

int LockSharedMutex(SharedMutex& m, int timeoutMs, bool* abandoned) {
    if (abandoned) *abandoned = false;
    if (!m.mutex || timeoutMs < -1) return EINVAL;
    int rc;
    if (timeoutMs < 0) {
        rc = pthread_mutex_lock(m.mutex);
    } else if (timeoutMs == 0) {
        rc = pthread_mutex_trylock(m.mutex);
        if (rc == EBUSY) rc = ETIMEDOUT;
    } else {
        // The monotonic clock, so a change of the wall clock cannot stretch
        // or cut the wait.
        timespec until = MonotonicAfter(timeoutMs);
        rc = pthread_mutex_clocklock(m.mutex, CLOCK_MONOTONIC, &until);
    }
    if (rc == EOWNERDEAD) {
        // The owner died holding it: take it over as Windows hands out an
        // abandoned mutex, and mark it usable again for everybody after us.
        pthread_mutex_consistent(m.mutex);
        if (abandoned) *abandoned = true;
        rc = 0;
    }
    return rc;
}

int UnlockSharedMutex(SharedMutex& m) {
    if (!m.mutex) return EINVAL;
    return pthread_mutex_unlock(m.mutex);
}

void CloseSharedMutex(SharedMutex* m) {
    SharedBlock block = ToBlock(*m);
    CloseSharedBlock(&block);
    *m = {};
}

} // namespace platform
