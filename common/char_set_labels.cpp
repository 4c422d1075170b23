// The table of character-set labels, sorted by label for the look-up.
#include "common/char_set_labels.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "common/ci_string.h"

namespace {

// Browsers' labels, with the module's own names (bBrowserKnows false) among
// them. "hz-gb-2312" names the replacement set in browsers; the module reads
// it as HZ, the set such a page was written in.
constexpr CharSetLabel kLabels[] = {
    {"866", "IBM866", true},
    {"ansi_x3.4-1968", "windows-1252", true},
    {"arabic", "ISO-8859-6", true},
    {"ascii", "windows-1252", true},
    {"asmo-708", "ISO-8859-6", true},
    {"big5", "Big5", true},
    {"big5-hkscs", "Big5", true},
    {"chinese", "GBK", true},
    {"cn-big5", "Big5", true},
    {"cp1250", "windows-1250", true},
    {"cp1251", "windows-1251", true},
    {"cp1252", "windows-1252", true},
    {"cp1253", "windows-1253", true},
    {"cp1254", "windows-1254", true},
    {"cp1255", "windows-1255", true},
    {"cp1256", "windows-1256", true},
    {"cp1257", "windows-1257", true},
    {"cp1258", "windows-1258", true},
    {"cp819", "windows-1252", true},
    {"cp866", "IBM866", true},
    {"cp932", "Shift_JIS", false},
    {"csbig5", "Big5", true},
    {"cseuckr", "EUC-KR", true},
    {"cseucpkdfmtjapanese", "EUC-JP", true},
    {"csgb2312", "GBK", true},
    {"csibm866", "IBM866", true},
    {"csiso2022jp", "ISO-2022-JP", true},
    {"csiso2022kr", "replacement", true},
    {"csiso58gb231280", "GBK", true},
    {"csiso88596e", "ISO-8859-6", true},
    {"csiso88596i", "ISO-8859-6", true},
    {"csiso88598e", "ISO-8859-8", true},
    {"csiso88598i", "ISO-8859-8-I", true},
    {"csisolatin1", "windows-1252", true},
    {"csisolatin2", "ISO-8859-2", true},
    {"csisolatin3", "ISO-8859-3", true},
    {"csisolatin4", "ISO-8859-4", true},
    {"csisolatin5", "windows-1254", true},
    {"csisolatin6", "ISO-8859-10", true},
    {"csisolatin9", "ISO-8859-15", true},
    {"csisolatinarabic", "ISO-8859-6", true},
    {"csisolatincyrillic", "ISO-8859-5", true},
    {"csisolatingreek", "ISO-8859-7", true},
    {"csisolatinhebrew", "ISO-8859-8", true},
    {"cskoi8r", "KOI8-R", true},
    {"csksc56011987", "EUC-KR", true},
    {"csmacintosh", "macintosh", true},
    {"csshiftjis", "Shift_JIS", true},
    {"csunicode", "UTF-16LE", true},
    {"cyrillic", "ISO-8859-5", true},
    {"dos-874", "windows-874", true},
    {"ecma-114", "ISO-8859-6", true},
    {"ecma-118", "ISO-8859-7", true},
    {"elot_928", "ISO-8859-7", true},
    {"euc-jp", "EUC-JP", true},
    {"euc-kr", "EUC-KR", true},
    {"gb18030", "gb18030", true},
    {"gb2312", "GBK", true},
    {"gb_2312", "GBK", true},
    {"gb_2312-80", "GBK", true},
    {"gbk", "GBK", true},
    {"greek", "ISO-8859-7", true},
    {"greek8", "ISO-8859-7", true},
    {"hebrew", "ISO-8859-8", true},
    {"hz-gb-2312", "HZ-GB-2312", true},
    {"ibm819", "windows-1252", true},
    {"ibm866", "IBM866", true},
    {"iso-10646-ucs-2", "UTF-16LE", true},
    {"iso-2022-cn", "replacement", true},
    {"iso-2022-cn-ext", "replacement", true},
    {"iso-2022-jp", "ISO-2022-JP", true},
    {"iso-2022-kr", "replacement", true},
    {"iso-8859-1", "windows-1252", true},
    {"iso-8859-10", "ISO-8859-10", true},
    {"iso-8859-11", "windows-874", true},
    {"iso-8859-13", "ISO-8859-13", true},
    {"iso-8859-14", "ISO-8859-14", true},
    {"iso-8859-15", "ISO-8859-15", true},
    {"iso-8859-16", "ISO-8859-16", true},
    {"iso-8859-2", "ISO-8859-2", true},
    {"iso-8859-3", "ISO-8859-3", true},
    {"iso-8859-4", "ISO-8859-4", true},
    {"iso-8859-5", "ISO-8859-5", true},
    {"iso-8859-6", "ISO-8859-6", true},
    {"iso-8859-6-e", "ISO-8859-6", true},
    {"iso-8859-6-i", "ISO-8859-6", true},
    {"iso-8859-7", "ISO-8859-7", true},
    {"iso-8859-8", "ISO-8859-8", true},
    {"iso-8859-8-e", "ISO-8859-8", true},
    {"iso-8859-8-i", "ISO-8859-8-I", true},
    {"iso-8859-9", "windows-1254", true},
    {"iso-ir-100", "windows-1252", true},
    {"iso-ir-101", "ISO-8859-2", true},
    {"iso-ir-109", "ISO-8859-3", true},
    {"iso-ir-110", "ISO-8859-4", true},
    {"iso-ir-126", "ISO-8859-7", true},
    {"iso-ir-127", "ISO-8859-6", true},
    {"iso-ir-138", "ISO-8859-8", true},
    {"iso-ir-144", "ISO-8859-5", true},
    {"iso-ir-148", "windows-1254", true},
    {"iso-ir-149", "EUC-KR", true},
    {"iso-ir-157", "ISO-8859-10", true},
    {"iso-ir-58", "GBK", true},
    {"iso8859-1", "windows-1252", true},
    {"iso8859-10", "ISO-8859-10", true},
    {"iso8859-11", "windows-874", true},
    {"iso8859-13", "ISO-8859-13", true},
    {"iso8859-14", "ISO-8859-14", true},
    {"iso8859-15", "ISO-8859-15", true},
    {"iso8859-2", "ISO-8859-2", true},
    {"iso8859-3", "ISO-8859-3", true},
    {"iso8859-4", "ISO-8859-4", true},
    {"iso8859-5", "ISO-8859-5", true},
    {"iso8859-6", "ISO-8859-6", true},
    {"iso8859-7", "ISO-8859-7", true},
    {"iso8859-8", "ISO-8859-8", true},
    {"iso8859-9", "windows-1254", true},
    {"iso88591", "windows-1252", true},
    {"iso885910", "ISO-8859-10", true},
    {"iso885911", "windows-874", true},
    {"iso885913", "ISO-8859-13", true},
    {"iso885914", "ISO-8859-14", true},
    {"iso885915", "ISO-8859-15", true},
    {"iso88592", "ISO-8859-2", true},
    {"iso88593", "ISO-8859-3", true},
    {"iso88594", "ISO-8859-4", true},
    {"iso88595", "ISO-8859-5", true},
    {"iso88596", "ISO-8859-6", true},
    {"iso88597", "ISO-8859-7", true},
    {"iso88598", "ISO-8859-8", true},
    {"iso88599", "windows-1254", true},
    {"iso_8859-1", "windows-1252", true},
    {"iso_8859-15", "ISO-8859-15", true},
    {"iso_8859-1:1987", "windows-1252", true},
    {"iso_8859-2", "ISO-8859-2", true},
    {"iso_8859-2:1987", "ISO-8859-2", true},
    {"iso_8859-3", "ISO-8859-3", true},
    {"iso_8859-3:1988", "ISO-8859-3", true},
    {"iso_8859-4", "ISO-8859-4", true},
    {"iso_8859-4:1988", "ISO-8859-4", true},
    {"iso_8859-5", "ISO-8859-5", true},
    {"iso_8859-5:1988", "ISO-8859-5", true},
    {"iso_8859-6", "ISO-8859-6", true},
    {"iso_8859-6:1987", "ISO-8859-6", true},
    {"iso_8859-7", "ISO-8859-7", true},
    {"iso_8859-7:1987", "ISO-8859-7", true},
    {"iso_8859-8", "ISO-8859-8", true},
    {"iso_8859-8:1988", "ISO-8859-8", true},
    {"iso_8859-9", "windows-1254", true},
    {"iso_8859-9:1989", "windows-1254", true},
    {"koi", "KOI8-R", true},
    {"koi8", "KOI8-R", true},
    {"koi8-r", "KOI8-R", true},
    {"koi8-ru", "KOI8-U", true},
    {"koi8-u", "KOI8-U", true},
    {"koi8_r", "KOI8-R", true},
    {"korean", "EUC-KR", true},
    {"ks_c_5601-1987", "EUC-KR", true},
    {"ks_c_5601-1989", "EUC-KR", true},
    {"ksc5601", "EUC-KR", true},
    {"ksc_5601", "EUC-KR", true},
    {"l1", "windows-1252", true},
    {"l2", "ISO-8859-2", true},
    {"l3", "ISO-8859-3", true},
    {"l4", "ISO-8859-4", true},
    {"l5", "windows-1254", true},
    {"l6", "ISO-8859-10", true},
    {"l9", "ISO-8859-15", true},
    {"latin1", "windows-1252", true},
    {"latin2", "ISO-8859-2", true},
    {"latin3", "ISO-8859-3", true},
    {"latin4", "ISO-8859-4", true},
    {"latin5", "windows-1254", true},
    {"latin6", "ISO-8859-10", true},
    {"logical", "ISO-8859-8-I", true},
    {"mac", "macintosh", true},
    {"macintosh", "macintosh", true},
    {"ms932", "Shift_JIS", true},
    {"ms_kanji", "Shift_JIS", true},
    {"replacement", "replacement", true},
    {"shift-jis", "Shift_JIS", true},
    {"shift_jis", "Shift_JIS", true},
    {"sjis", "Shift_JIS", true},
    {"sun_eu_greek", "ISO-8859-7", true},
    {"tis-620", "windows-874", true},
    {"ucs-2", "UTF-16LE", true},
    {"unicode", "UTF-16LE", true},
    {"unicode-1-1-utf-8", "UTF-8", true},
    {"unicode11utf8", "UTF-8", true},
    {"unicode20utf8", "UTF-8", true},
    {"unicodefeff", "UTF-16LE", true},
    {"unicodefffe", "UTF-16BE", true},
    {"us-ascii", "windows-1252", true},
    {"utf-16", "UTF-16LE", true},
    {"utf-16be", "UTF-16BE", true},
    {"utf-16le", "UTF-16LE", true},
    {"utf-8", "UTF-8", true},
    {"utf8", "UTF-8", true},
    {"visual", "ISO-8859-8", true},
    {"windows-1250", "windows-1250", true},
    {"windows-1251", "windows-1251", true},
    {"windows-1252", "windows-1252", true},
    {"windows-1253", "windows-1253", true},
    {"windows-1254", "windows-1254", true},
    {"windows-1255", "windows-1255", true},
    {"windows-1256", "windows-1256", true},
    {"windows-1257", "windows-1257", true},
    {"windows-1258", "windows-1258", true},
    {"windows-31j", "Shift_JIS", true},
    {"windows-874", "windows-874", true},
    {"windows-949", "EUC-KR", true},
    {"x-cp1250", "windows-1250", true},
    {"x-cp1251", "windows-1251", true},
    {"x-cp1252", "windows-1252", true},
    {"x-cp1253", "windows-1253", true},
    {"x-cp1254", "windows-1254", true},
    {"x-cp1255", "windows-1255", true},
    {"x-cp1256", "windows-1256", true},
    {"x-cp1257", "windows-1257", true},
    {"x-cp1258", "windows-1258", true},
    {"x-euc-jp", "EUC-JP", true},
    {"x-gbk", "GBK", true},
    {"x-mac-arabic", "x-mac-arabic", false},
    {"x-mac-chineseimp", "x-mac-chineseimp", false},
    {"x-mac-chinesetrad", "x-mac-chinesetrad", false},
    {"x-mac-cyrillic", "x-mac-cyrillic", true},
    {"x-mac-greek", "x-mac-greek", false},
    {"x-mac-hebrew", "x-mac-hebrew", false},
    {"x-mac-japan", "x-mac-japan", false},
    {"x-mac-roman", "macintosh", true},
    {"x-mac-ukrainian", "x-mac-cyrillic", true},
    {"x-sjis", "Shift_JIS", true},
    {"x-unicode20utf8", "UTF-8", true},
    {"x-user-defined", "x-user-defined", true},
    {"x-x-big5", "Big5", true},
};

struct SetName {
  const char* pSet;
  const char* pBrowserName;
};

// The module's own sets, and the sets browsers read their bytes as.
constexpr SetName kOwnSets[] = {
    {"x-mac-japan", "Shift_JIS"},    {"x-mac-chinesetrad", "Big5"},  {"x-mac-chineseimp", "GBK"},
    {"x-mac-greek", "windows-1253"}, {"x-mac-hebrew", "ISO-8859-8"}, {"x-mac-arabic", "ISO-8859-6"},
};

constexpr const char* kStatefulSets[] = {"ISO-2022-JP", "HZ-GB-2312", "replacement", "UTF-16BE", "UTF-16LE"};

constexpr size_t LongestLabel() {
  size_t longest = 0;
  for (const CharSetLabel& row : kLabels) longest = std::max(longest, std::char_traits<char>::length(row.pLabel));
  return longest;
}
constexpr size_t kLongestLabel = LongestLabel();

// The labels with their lengths, in the table's order: the search compares
// without measuring a label at every step.
constexpr std::array<std::string_view, std::size(kLabels)> LabelViews() {
  std::array<std::string_view, std::size(kLabels)> views{};
  for (size_t i = 0; i < views.size(); ++i) views[i] = kLabels[i].pLabel;
  return views;
}
constexpr std::array<std::string_view, std::size(kLabels)> kLabelViews = LabelViews();

bool IsAsciiWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

char Lower(char c) { return static_cast<char>(ci_char_traits::lower(c)); }

}  // namespace

const CharSetLabel* FindCharSetLabel(std::string_view label) {
  while (!label.empty() && IsAsciiWhiteSpace(label.front())) label.remove_prefix(1);
  while (!label.empty() && IsAsciiWhiteSpace(label.back())) label.remove_suffix(1);
  // Lowered on the stack: a page's look-ups allocate nothing, and a label
  // longer than every row's names no set.
  char lowered[kLongestLabel];
  if (label.size() > sizeof(lowered)) return nullptr;
  std::transform(label.begin(), label.end(), lowered, Lower);
  const std::string_view key(lowered, label.size());
  const auto at = std::lower_bound(kLabelViews.begin(), kLabelViews.end(), key);
  return at != kLabelViews.end() && *at == key ? &kLabels[at - kLabelViews.begin()] : nullptr;
}

std::string_view CharSetOfLabel(std::string_view label) {
  const CharSetLabel* row = FindCharSetLabel(label);
  return row == nullptr ? std::string_view() : std::string_view(row->pSet);
}

std::string_view BrowserNameOfSet(std::string_view set) {
  for (const SetName& own : kOwnSets) {
    if (AsCIView(set) == own.pSet) return own.pBrowserName;
  }
  return set;
}

bool IsStatefulCharSet(std::string_view set) {
  return std::any_of(std::begin(kStatefulSets), std::end(kStatefulSets),
                     [&](const char* stateful) { return AsCIView(set) == stateful; });
}
