// Operations on ci_string: replacement and splitting without regard to
// case, trimming by a set of characters, number parsing and Base64.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "common/ci_string.h"
#include "platform/win_types.h"

class CStringOperation {
 public:
  // As ReplaceAll on std::string, with occurrences found without case.
  static bool ReplaceAll(ci_string& text, const ci_string& what, const ci_string& with,
                         size_t start = 0);

  // Splits `text` at every `delimiter`. With stopAtEmpty the first empty
  // part ends the split; without it empty parts are kept, including one
  // after the last part. An empty delimiter gives the whole text as one
  // part. False for an empty text.
  static bool Parse(const ci_string& text, const ci_string& delimiter,
                    std::vector<ci_string>& parts, bool stopAtEmpty = true);
  // The same split into an ordered set (duplicates collapse); always stops
  // at the first empty part.
  static bool Parse(const ci_string& text, const ci_string& delimiter, std::set<ci_string>& parts);

  // Remove every character of `chars` (matched without case) from the ends.
  static void Trim(ci_string& text, const ci_string& chars);
  static void TrimLeft(ci_string& text, const ci_string& chars);
  static void TrimRight(ci_string& text, const ci_string& chars);

  // As StringToUInt. The signed form gives the same 32 bits as a signed
  // number, so a leading '-' reads as a negative value.
  static bool String2Int(const ci_string& text, DWORD& value, int radix, size_t pos = 0,
                         size_t length = ci_string::npos, bool signAllowed = false);
  static bool String2Int(const ci_string& text, int32_t& value, int radix, size_t pos = 0,
                         size_t length = ci_string::npos, bool signAllowed = false);

  // Replaces `text` by its Base64 encoding (RFC 4648, '=' padding, no line
  // breaks). Throws std::length_error for a text whose encoding length would
  // not fit in a signed 32-bit number.
  static bool Encode64(std::string& text);
  // Replaces Base64 `text` by the bytes it decodes to, up to the first zero
  // byte. Characters outside the alphabet ("=" among them) are skipped and a
  // NUL ends the input, so a malformed text still gives true with what could
  // be decoded; false only for an empty text.
  static bool Decode64(ci_string& text);
};
