#include "common/secret_text.h"

#include "common/string_utils.h"

namespace {

// The names under which the client carries its session: the session
// cookies, the anti-forgery canary, and a form's password.
constexpr std::string_view kSessionNames[] = {"canary", "x-owa-canary", "usercontext", "sessionid", "cadata",
                                              "password"};

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool IsSessionName(std::string_view name) {
  for (const std::string_view known : kSessionNames) {
    if (known.size() != name.size()) continue;
    bool same = true;
    for (size_t i = 0; same && i < name.size(); ++i) {
      const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
      same = c == known[i];
    }
    if (same) return true;
  }
  return false;
}

// A value CookieForLog or this function already put in its place.
bool IsShownLength(std::string_view value) {
  if (value == "(absent)") return true;
  if (value.size() < 8 || value.front() != '(' || value.substr(value.size() - 7) != " bytes)") return false;
  for (const char c : value.substr(1, value.size() - 8)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string SecretForLog(std::string_view value) {
  if (value.empty()) return "(absent)";
  return "(" + std::to_string(value.size()) + " bytes)";
}

std::string CookieForLog(std::string_view cookie) {
  std::string shown;
  while (!cookie.empty()) {
    const size_t end = cookie.find(';');
    const std::string_view piece = TrimBlanks(cookie.substr(0, end));
    cookie = end == std::string_view::npos ? std::string_view() : cookie.substr(end + 1);
    if (piece.empty()) continue;
    if (!shown.empty()) shown += "; ";
    const size_t equals = piece.find('=');
    // A name is shown only when it is one: a name holding a comma or a blank
    // is a folded value, and values are never shown.
    const std::string_view name = equals == std::string_view::npos ? std::string_view() : TrimBlanks(piece.substr(0, equals));
    const bool plainName = !name.empty() && name.find_first_of(", \t\"") == std::string_view::npos;
    if (plainName) {
      shown.append(name.data(), name.size());
      shown += '=';
      shown += SecretForLog(piece.substr(equals + 1));
    } else {
      shown += SecretForLog(piece);
    }
  }
  return shown.empty() ? SecretForLog({}) : shown;
}

std::string SessionValuesForLog(std::string_view line) {
  std::string shown;
  size_t copied = 0;
  for (size_t equals = line.find('='); equals != std::string_view::npos; equals = line.find('=', equals + 1)) {
    size_t nameStart = equals;
    while (nameStart > copied && IsNameChar(line[nameStart - 1])) --nameStart;
    if (!IsSessionName(line.substr(nameStart, equals - nameStart))) continue;
    // A value ends where a query, a cookie list or the line's own quoting
    // goes on.
    size_t end = equals + 1;
    while (end < line.size() && std::string_view("&; \t<>,").find(line[end]) == std::string_view::npos) ++end;
    const size_t close = line.find(')', equals);
    if (close != std::string_view::npos && IsShownLength(line.substr(equals + 1, close - equals))) continue;
    shown.append(line.substr(copied, equals + 1 - copied));
    shown += SecretForLog(line.substr(equals + 1, end - equals - 1));
    copied = end;
    equals = end - 1;
  }
  shown.append(line.substr(copied));
  return shown;
}
