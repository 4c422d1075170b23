// Interlocked operations on 32-bit counts that live inside records shared
// with the host (where a std::atomic member would change the layout).
#pragma once

#include "platform/win_types.h"

inline LONG InterlockedIncrement(volatile LONG* target) {
  return __atomic_add_fetch(target, 1, __ATOMIC_ACQ_REL);
}
inline LONG InterlockedDecrement(volatile LONG* target) {
  return __atomic_sub_fetch(target, 1, __ATOMIC_ACQ_REL);
}
inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
  return __atomic_exchange_n(target, value, __ATOMIC_ACQ_REL);
}
// Returns the value found; the exchange happened when it equals `comparand`.
inline LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_ACQ_REL,
                              __ATOMIC_ACQUIRE);
  return comparand;
}
