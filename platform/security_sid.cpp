#include "platform/security_sid.h"

#include <cstring>
#include <string_view>

#include "platform/last_error.h"
#include "platform/local_memory.h"

namespace {

constexpr size_t kHeaderSize = 8;  // revision, count, 6-byte authority

// Decimal digits only (no sign, no blanks) into at most `max`.
bool ParseDecimal(std::string_view part, uint64_t max, uint64_t* out) {
  if (part.empty() || part.size() > 20) return false;
  uint64_t value = 0;
  // The largest limit is 32 bits, so ten times a value within it plus a
  // digit still fits: the limit is checked after each digit, no division.
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > max) return false;
  }
  *out = value;
  return true;
}

bool ParseAuthority(std::string_view part, uint64_t* out) {
  if (part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    std::string_view hex = part.substr(2);
    if (hex.size() != 12) return false;
    uint64_t value = 0;
    for (char c : hex) {
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else return false;
      value = (value << 4) | static_cast<uint64_t>(d);
    }
    *out = value;
    return true;
  }
  return ParseDecimal(part, 0xFFFFFFFFull, out);
}

BOOL Fail(DWORD err) {
  SetLastError(err);
  return FALSE;
}

}  // namespace

BOOL ConvertStringSidToSidA(const char* text, PSID* sid) {
  if (text == nullptr || sid == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  *sid = nullptr;
  std::string_view s(text);
  if (s.size() < 2 || (s[0] != 'S' && s[0] != 's') || s[1] != '-') return Fail(ERROR_INVALID_SID);
  s.remove_prefix(2);

  // Revision, authority and the sub-authorities, and room for one too many;
  // every request converts SIDs, so the pieces are kept on the stack.
  std::string_view parts[3u + SID_MAX_SUB_AUTHORITIES];
  size_t partCount = 0;
  size_t start = 0;
  while (true) {
    const size_t dash = s.find('-', start);
    parts[partCount++] = s.substr(start, dash == std::string_view::npos ? std::string_view::npos : dash - start);
    if (dash == std::string_view::npos) break;
    start = dash + 1;
    if (partCount > 2u + SID_MAX_SUB_AUTHORITIES) return Fail(ERROR_INVALID_SID);
  }
  if (partCount < 2 || partCount > 2u + SID_MAX_SUB_AUTHORITIES) return Fail(ERROR_INVALID_SID);

  uint64_t revision = 0;
  uint64_t authority = 0;
  if (!ParseDecimal(parts[0], 0xFF, &revision) || revision != SID_REVISION) return Fail(ERROR_INVALID_SID);
  if (!ParseAuthority(parts[1], &authority)) return Fail(ERROR_INVALID_SID);
  const size_t count = partCount - 2;
  DWORD subs[SID_MAX_SUB_AUTHORITIES] = {};
  for (size_t i = 0; i < count; ++i) {
    uint64_t v = 0;
    if (!ParseDecimal(parts[2 + i], 0xFFFFFFFFull, &v)) return Fail(ERROR_INVALID_SID);
    subs[i] = static_cast<DWORD>(v);
  }

  const size_t size = kHeaderSize + count * sizeof(DWORD);
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, size));
  if (block == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  block[0] = static_cast<BYTE>(revision);
  block[1] = static_cast<BYTE>(count);
  for (int i = 0; i < 6; ++i) block[2 + i] = static_cast<BYTE>(authority >> (8 * (5 - i)));
  std::memcpy(block + kHeaderSize, subs, count * sizeof(DWORD));
  *sid = block;
  return TRUE;
}

BOOL IsValidSid(PSID sid) {
  if (sid == nullptr) return FALSE;
  const auto* b = static_cast<const BYTE*>(sid);
  return b[0] == SID_REVISION && b[1] <= SID_MAX_SUB_AUTHORITIES ? TRUE : FALSE;
}

DWORD GetLengthSid(PSID sid) {
  if (!IsValidSid(sid)) return 0;
  return static_cast<DWORD>(kHeaderSize + static_cast<const BYTE*>(sid)[1] * sizeof(DWORD));
}

BOOL EqualSid(PSID a, PSID b) {
  if (!IsValidSid(a) || !IsValidSid(b)) return FALSE;
  const DWORD len = GetLengthSid(a);
  return len == GetLengthSid(b) && std::memcmp(a, b, len) == 0 ? TRUE : FALSE;
}
