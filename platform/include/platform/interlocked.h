#pragma once
// Interlocked operations on 32- and 64-bit fields of shared blocks, with the
// Windows conventions callers are written against: Increment, Decrement and
// Add return the new value; Exchange and CompareExchange return the old one.
// The read-modify-write operations are full barriers. Fields must be aligned
// to their size (every counter in the shared records is).
#include <atomic>
#include <cstdint>
#include <type_traits>

namespace platform {

template <typename T>
concept InterlockedField = std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t> ||
    std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>;

template <InterlockedField T> inline std::atomic_ref<T> Atomic(T* field) {
    return std::atomic_ref<T>(*field);
}

// The atomic operations wrap around; so must the new value computed from the
// old one (in unsigned arithmetic, where wrapping is defined).
template <InterlockedField T> inline T WrappingAdd(T a, T b) {
    using U = std::make_unsigned_t<T>;
    return static_cast<T>(static_cast<U>(a) + static_cast<U>(b));
}

template <InterlockedField T> inline T InterlockedAdd(T* field, std::type_identity_t<T> value) {
    return WrappingAdd(Atomic(field).fetch_add(value), value);
}

template <InterlockedField T> inline T InterlockedIncrement(T* field) {
    return InterlockedAdd(field, 1);
}

template <InterlockedField T> inline T InterlockedDecrement(T* field) {
    return WrappingAdd(Atomic(field).fetch_sub(1), static_cast<T>(-1));
}

template <InterlockedField T>
inline T InterlockedExchange(T* field, std::type_identity_t<T> value) {
    return Atomic(field).exchange(value);
}

// Stores exchange when the field holds comparand; returns what it held.
template <InterlockedField T>
inline T InterlockedCompareExchange(T* field, std::type_identity_t<T> exchange,
                                    std::type_identity_t<T> comparand) {
    Atomic(field).compare_exchange_strong(comparand, exchange);
    return comparand;
}

template <InterlockedField T> inline T LoadAcquire(const T* field) {
    return std::atomic_ref<T>(*const_cast<T*>(field)).load(std::memory_order_acquire);
}

template <InterlockedField T> inline void StoreRelease(T* field, std::type_identity_t<T> value) {
    Atomic(field).store(value, std::memory_order_release);
}

} // namespace platform
