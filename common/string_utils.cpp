#include "common/string_utils.h"

namespace {

size_t Find(const std::string& text, const std::string& what, size_t pos) { return text.find(what, pos); }
// Cookies are searched so on every request: the quicker case-blind search.
size_t Find(const ci_string& text, const ci_string& what, size_t pos) { return FindNoCase(text, what, pos); }

template <class S>
S Between(const S& text, const S& start, const S& end, size_t pos) {
  const size_t found = Find(text, start, pos);
  if (found == S::npos) return S();
  const size_t begin = found + start.size();
  if (begin >= text.size()) return S();
  const size_t stop = Find(text, end, begin);
  return stop == S::npos ? text.substr(begin) : text.substr(begin, stop - begin);
}

template <class S>
S Join(const S& separator, const std::vector<S>& items) {
  S joined;
  for (const S& item : items) {
    joined += item;
    joined += separator;
  }
  if (!joined.empty()) joined.pop_back();
  return joined;
}

}  // namespace

std::string GetStringBetween(const std::string& text, const std::string& start,
                             const std::string& end, size_t pos) {
  return Between(text, start, end, pos);
}

ci_string GetStringBetween(const ci_string& text, const ci_string& start, const ci_string& end,
                           size_t pos) {
  return Between(text, start, end, pos);
}

bool ReplaceAll(std::string& text, const std::string& what, const std::string& with,
                size_t start) {
  if (text.empty() || what.empty()) return false;
  for (size_t pos = text.find(what, start); pos != std::string::npos;
       pos = text.find(what, pos + with.size())) {
    text.replace(pos, what.size(), with);
  }
  return true;
}

std::string JoinStrings(const std::string& separator, const std::vector<std::string>& items) {
  return Join(separator, items);
}

ci_string JoinStrings(const ci_string& separator, const std::vector<ci_string>& items) {
  return Join(separator, items);
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}
