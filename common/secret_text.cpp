#include "common/secret_text.h"

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
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
    const std::string_view piece = Trimmed(cookie.substr(0, end));
    cookie = end == std::string_view::npos ? std::string_view() : cookie.substr(end + 1);
    if (piece.empty()) continue;
    if (!shown.empty()) shown += "; ";
    const size_t equals = piece.find('=');
    // A name is shown only when it is one: a name holding a comma or a blank
    // is a folded value, and values are never shown.
    const std::string_view name = equals == std::string_view::npos ? std::string_view() : Trimmed(piece.substr(0, equals));
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
