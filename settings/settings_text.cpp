#include "settings/settings_text.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "common/string_utils.h"

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

int32_t SettingsTextToInt(const char* text) {
  if (text == nullptr) return 0;
  while (IsBlank(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  int64_t value = 0;
  while (*text >= '0' && *text <= '9') {
    value = value * 10 + (*text - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
    ++text;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

bool ReadPlainDecimal(const std::string& text, int32_t* value) {
  if (text.empty() || text.size() > 9) return false;
  int32_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

bool ReadSettingsNumber(const std::string& text, int32_t min, int32_t max, int32_t* value) {
  std::string_view digits = TrimBlanks(text);
  const bool negative = !digits.empty() && digits.front() == '-' && min < 0;
  if (negative) digits.remove_prefix(1);
  if (digits.empty()) return false;
  int64_t result = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
    // Past the 32-bit range no digit can bring it back.
    if (result > static_cast<int64_t>(INT32_MAX) + 1) return false;
  }
  if (negative) result = -result;
  if (result < min || result > max) return false;
  *value = static_cast<int32_t>(result);
  return true;
}

int32_t SettingsTextToLong(const std::string& text, int base) {
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, base);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

std::vector<std::string> SplitAll(const std::string& text, char delimiter) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t next = text.find(delimiter, start);
    if (next == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, next - start));
    start = next + 1;
  }
}
