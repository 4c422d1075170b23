// Compile-time check of a field's byte offset in a record shared with the
// filter host. Records with a virtual table are not standard-layout, but g++
// lays them out predictably (table pointer first), which is exactly what the
// host relies on; the warning about such offsets is silenced for the check.
#pragma once

#include <cstddef>

#define HX_CHECK_OFFSET(type, member, offset)                                                    \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Winvalid-offsetof\"")        \
      static_assert(offsetof(type, member) == (offset), #type "::" #member " must be at byte " #offset); \
  _Pragma("GCC diagnostic pop")
