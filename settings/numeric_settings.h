// The numbered settings that are numbers: the range each is read in and
// what a value outside it, or a text that is no number, is replaced by when
// the file is loaded (its built-in default; for the switches that restrict
// opening, saving and the rich view, and the one that applies the blocked
// extensions, the value that restricts, since a typo must not open what the
// administrator meant to close). The block levels (43, 51) are not here:
// their own reader refuses what it cannot read.
#pragma once

#include <cstdint>

struct NumericSettingRule {
  int32_t id;
  int32_t min;
  int32_t max;
  int32_t instead;
};

// The rule of a setting, or null for a setting that is no plain number.
const NumericSettingRule* NumericSettingRuleOf(int32_t id);

// The longest interval between two checks of a settings file (setting 81):
// one day. A longer one means an edit is, in practice, never picked up.
constexpr int32_t kMaxReloadIntervalMinutes = 1440;
