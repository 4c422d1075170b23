#include "common/file_name_extensions.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "common/unicode_white_space.h"
#include "common/url_utils.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The marks looked for in names here (". / \\ : ? # ; ~" and the blank) are
// no letters: a byte is one of them, whatever the case, exactly when it is
// that byte, so they are found byte by byte. Every document row of a library
// reads its name through these several times.
size_t FindMark(ci_string_view s, char mark, size_t from = 0) {
  if (from >= s.size()) return ci_string_view::npos;
  const void* found = std::memchr(s.data() + from, mark, s.size() - from);
  return found == nullptr ? ci_string_view::npos : static_cast<size_t>(static_cast<const char*>(found) - s.data());
}

size_t FindLastMark(ci_string_view s, char mark) {
  for (size_t i = s.size(); i > 0; --i) {
    if (s[i - 1] == mark) return i - 1;
  }
  return ci_string_view::npos;
}

// The first of a few marks: each one searched for on its own, up to where
// an earlier one was found.
size_t FindFirstMarkOf(ci_string_view s, ci_string_view marks, size_t from = 0) {
  size_t first = ci_string_view::npos;
  for (const char m : marks) {
    const size_t at = FindMark(s.substr(0, first == ci_string_view::npos ? s.size() : first), m, from);
    if (at != ci_string_view::npos) first = at;
  }
  return first;
}

// The text after the last "/" or "\".
ci_string_view FileNameOf(ci_string_view path) {
  size_t begin = path.size();
  while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
  return path.substr(begin);
}

// After the last "." of the file name; whether there is one.
bool ExtensionOf(ci_string_view fileName, ci_string& extension) {
  const size_t dot = FindLastMark(fileName, '.');
  if (dot == ci_string_view::npos) return false;
  extension.assign(fileName.substr(dot + 1));
  return true;
}

// Unicode's White_Space characters, and the dot a file system drops too.
bool IsDroppedAtEnd(char32_t c) { return c == '.' || IsUnicodeWhiteSpace(c); }

size_t LastCodePoint(ci_string_view name, char32_t& code) {
  return ::LastCodePoint(std::string_view(name.data(), name.size()), code);
}

// Unicode's format characters (general category Cf), which a name may carry
// unseen and which a browser may drop from a name it saves: the soft hyphen,
// the prepended number marks, zero-width, joiners, direction marks,
// embeddings, overrides and isolates, the word joiner and invisible
// operators, the byte order mark, annotation marks, the hieroglyph, shorthand
// and musical format controls, and tags.
bool IsFormatCharacter(char32_t c) {
  return c == 0xAD || (c >= 0x0600 && c <= 0x0605) || c == 0x061C || c == 0x06DD || c == 0x070F ||
         (c >= 0x0890 && c <= 0x0891) || c == 0x08E2 || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x2064) || (c >= 0x2066 && c <= 0x206F) ||
         c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB) || c == 0x110BD || c == 0x110CD ||
         (c >= 0x13430 && c <= 0x1343F) || (c >= 0x1BCA0 && c <= 0x1BCA3) || (c >= 0x1D173 && c <= 0x1D17A) ||
         (c >= 0xE0000 && c <= 0xE007F);
}

// What a Windows file system drops from a name's end: dots and blanks only.
ci_string_view WithoutTrailingDotsAndBlanks(ci_string_view name) {
  size_t end = name.size();
  while (end > 0 && (name[end - 1] == '.' || name[end - 1] == ' ')) --end;
  return name.substr(0, end);
}

// What a browser saving the file drops from its name's end as well.
ci_string_view WithoutTrailingDotsAndWhiteSpace(ci_string_view name) {
  char32_t code = 0;
  for (size_t length = LastCodePoint(name, code); length != 0 && IsDroppedAtEnd(code);
       length = LastCodePoint(name, code)) {
    name.remove_suffix(length);
  }
  return name;
}

// `name` without its format characters; whether it held any.
bool WithoutFormatCharacters(ci_string_view name, ci_string& out) {
  out.clear();
  bool removed = false;
  for (size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    length = std::min(length, name.size() - i);
    char32_t code = 0;
    if (length > 1 && LastCodePoint(name.substr(0, i + length), code) == length && IsFormatCharacter(code)) {
      removed = true;
    } else {
      out.append(name.substr(i, length));
    }
    i += length;
  }
  return removed;
}

// A character a short name may hold: ASCII letters and digits and the marks
// an 8.3 name allows, which a volume keeps when it makes one ("#" too:
// "mac#ros.docm" is "MAC#RO~1.DOC"); blanks, "+", ",", ";", "=", "[", "]"
// and anything outside ASCII never appear in one.
bool IsShortNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         ci_string_view("!#$%&'()-@^_`{}~").find(c) != ci_string_view::npos;
}

// The form of a name a volume generates: "NAME~N" of at most 8 characters
// before an optional extension of one to three, short-name characters only.
bool IsShortNameForm(ci_string_view fileName) {
  if (!std::all_of(fileName.begin(), fileName.end(), [](char c) { return c == '.' || IsShortNameCharacter(c); })) {
    return false;
  }
  const size_t dot = fileName.find('.');
  const ci_string_view name = fileName.substr(0, dot);
  if (name.size() > 8) return false;
  if (dot != ci_string_view::npos) {
    const ci_string_view extension = fileName.substr(dot + 1);
    if (extension.empty() || extension.size() > 3 || extension.find('.') != ci_string_view::npos) return false;
  }
  const size_t tilde = name.rfind('~');
  if (tilde == ci_string_view::npos || tilde == 0 || tilde + 1 == name.size()) return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(tilde) + 1, name.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

// The name of the file a Windows file system opens for the path: "." and
// ".." segments resolved ("evil.exe\." and "evil.exe\x\.." are
// "evil.exe"), each name before a ":" (a stream) and without trailing dots
// and blanks; the file's name is then also without any other trailing white
// space, which a browser saving the file trims. Read from the last segment
// back, each ".." passing over one name before it: the last name left is the
// same as a walk from the front that keeps every name would leave, without
// keeping them.
ci_string_view FileSystemFileName(ci_string_view path) {
  size_t passed = 0;
  for (size_t end = path.size();;) {
    size_t begin = end;
    while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
    const ci_string_view segment = path.substr(begin, end - begin);
    const ci_string_view name = WithoutTrailingDotsAndBlanks(segment.substr(0, FindMark(segment, ':')));
    size_t kept = segment.size();
    while (kept > 0 && segment[kept - 1] == ' ') --kept;
    if (kept == 2 && segment[0] == '.' && segment[1] == '.') {
      ++passed;
    } else if (!name.empty()) {
      // Only the file's own name is trimmed of other white space: a folder
      // named U+3000 is one that ".." passes over.
      if (passed == 0) return WithoutTrailingDotsAndWhiteSpace(name);
      --passed;
    }
    if (begin == 0) return ci_string_view();
    end = begin - 1;
  }
}

// One reading's extension; a reading of the short-name form, whichever it
// is ("//sp/MACRO~1.DOC#x.pdf" cut at its "#"), makes the name a short name
// of that extension.
void AddReading(ci_string_view fileName, CFileNameExtensions& extensions) {
  ci_string extension;
  const bool dotted = ExtensionOf(fileName, extension);
  // Most names hold no "~".
  if (FindMark(fileName, '~') != ci_string_view::npos && IsShortNameForm(fileName)) {
    extensions.shortName = true;
    extensions.shortNameExtensions.push_back(extension);
  }
  if (dotted) extensions.others.push_back(std::move(extension));
}

// How the party that fetches a name reads it. A name is a URL only when it
// says so: a scheme of two letters or more (a drive letter is none), or a
// network-path reference "//host/...". Any other name is a file's: a share's
// or a file system's ("\\fs01\Team.Share\#42 minutes.pdf", "C:\a;b.pdf"),
// or a relative path of "/" or "\" segments such as the viewer's document
// paths ("Shared Documents/Rev 1.2 #final.pdf"), which hold "#" and ";" as
// ordinary characters. A URL's path ends at its first "?" or "#", and a
// server may cut it at ";" as a path parameter too. A "file:" URL is one as
// well: the server reads it with a query (its own force-save links append
// "?UriFlags=UncDocument") and so with a fragment, as a browser does, and
// lists a file share's documents as a .NET Uri writes them, blanks as they
// are but "#", "?" and "%" escaped: a "#" in a share's name comes as "%23".
// No reader of a file URL takes path parameters: ";" stays in its name.
enum class NameKind { File, Url, FileUrl };

NameKind KindOf(ci_string_view name) {
  size_t scheme = 0;
  while (scheme < name.size() && (std::isalpha(static_cast<unsigned char>(name[scheme])) != 0 ||
                                  (scheme > 0 && (std::isdigit(static_cast<unsigned char>(name[scheme])) != 0 ||
                                                  ci_string_view("+-.").find(name[scheme]) != ci_string_view::npos)))) {
    ++scheme;
  }
  if (scheme >= 2 && scheme < name.size() && name[scheme] == ':') {
    return name.substr(0, scheme) == "file" ? NameKind::FileUrl : NameKind::Url;
  }
  return name.substr(0, 2) == "//" ? NameKind::Url : NameKind::File;
}

void AddOtherReadings(ci_string_view name, NameKind kind, CFileNameExtensions& extensions, int depth);
void AddPathDecodedOnceMore(ci_string_view path, NameKind kind, CFileNameExtensions& extensions, int depth);

// How deep a URL held in a query's value of a URL is read: a download page
// that takes a value as a URL fetches it, query and all, and no reader takes
// a name deeper than that.
constexpr int kNestedUrlDepth = 3;

// A text a reader takes as a name once decoded (a query's value, a
// fragment): its file name, and the file a Windows file system opens by it;
// a value that is a URL itself ("u=http://sp/evil.exe?x=1",
// "u=//sp/evil.exe%23.pdf") is read as one too, cut at its own "?" and "#",
// and its path, as a download page that takes the value for a URL reads it,
// decoded once more ("SourceUrl=/docs/evil%252Eexe" is "evil.exe").
void AddDecodedTextReadings(ci_string_view text, CFileNameExtensions& extensions, int depth) {
  AddReading(FileNameOf(text), extensions);
  AddReading(FileSystemFileName(text), extensions);
  if (depth >= kNestedUrlDepth) return;
  const NameKind kind = KindOf(text);
  if (kind != NameKind::File) AddOtherReadings(text, kind, extensions, depth + 1);
  AddPathDecodedOnceMore(kind == NameKind::File ? text : text.substr(0, FindFirstMarkOf(text, "?#")), kind,
                         extensions, depth + 1);
}

// A query read parameter by parameter, as a server or a download page reads
// it ("download.aspx?SourceUrl=/docs/evil.exe"): each pair and each value,
// decoded once, may be taken as a name. "a.pdf?x=evil.exe&y=1" is read as
// "evil.exe", not as a name ending in "exe&y=1".
void AddQueryReadings(ci_string_view query, CFileNameExtensions& extensions, int depth) {
  size_t begin = 0;
  while (begin <= query.size()) {
    size_t end = FindMark(query, '&', begin);
    if (end == ci_string_view::npos) end = query.size();
    const ci_string_view pair = query.substr(begin, end - begin);
    AddDecodedTextReadings(AsCIView(QueryValueAsServerReadsIt(AsStdView(pair))), extensions, depth);
    const size_t eq = FindMark(pair, '=');
    if (eq != ci_string_view::npos) {
      AddDecodedTextReadings(AsCIView(QueryValueAsServerReadsIt(AsStdView(pair.substr(eq + 1)))), extensions, depth);
    }
    begin = end + 1;
  }
}

// The readings of `name`, read as a name of its kind, other than its own
// extension: the file a Windows file system opens; for a URL also its path
// cut at ";", its query parameter by parameter and its fragment, each
// decoded once as its reader decodes it. A file's name holds no "?": a
// reader may take what follows one as a query.
void AddOtherReadings(ci_string_view name, NameKind kind, CFileNameExtensions& extensions, int depth) {
  if (kind == NameKind::File) {
    AddReading(FileSystemFileName(name), extensions);
    const size_t question = FindMark(name, '?');
    if (question != ci_string_view::npos) {
      AddReading(FileNameOf(name.substr(0, question)), extensions);
      AddReading(FileSystemFileName(name.substr(0, question)), extensions);
      AddQueryReadings(name.substr(question + 1), extensions, depth);
    }
    return;
  }
  const size_t pathEnd = FindFirstMarkOf(name, "?#");
  const ci_string_view path = name.substr(0, pathEnd);
  AddReading(FileNameOf(path), extensions);
  AddReading(FileSystemFileName(path), extensions);
  const size_t cut = kind == NameKind::Url ? FindMark(path, ';') : ci_string_view::npos;
  if (cut != ci_string_view::npos) {
    AddReading(FileNameOf(path.substr(0, cut)), extensions);
    AddReading(FileSystemFileName(path.substr(0, cut)), extensions);
  }
  if (pathEnd == ci_string_view::npos) return;
  const size_t fragment = FindMark(name, '#', pathEnd);
  if (name[pathEnd] == '?') {
    const size_t queryEnd = fragment == ci_string_view::npos ? name.size() : fragment;
    AddQueryReadings(name.substr(pathEnd + 1, queryEnd - pathEnd - 1), extensions, depth);
  }
  if (fragment != ci_string_view::npos) {
    const ci_string_view raw = name.substr(fragment + 1);
    AddDecodedTextReadings(AsCIView(URLDecode(std::string(raw.data(), raw.size()))), extensions, depth);
  }
}

// A reading of the whole text as a name of its own: its extension and its
// other readings.
void AddNameReadings(ci_string_view name, NameKind kind, CFileNameExtensions& extensions, int depth = 0) {
  AddReading(FileNameOf(name.substr(0, kind == NameKind::File ? name.size() : FindFirstMarkOf(name, "?#"))),
             extensions);
  AddOtherReadings(name, kind, extensions, depth);
}

// Every reading of `name` but its own extension, and of its form without
// format characters, read by the kind that form is: .NET's Uri drops the
// direction marks, so "<U+202A>http://sp/evil.exe#.pdf" is a URL to it.
void AddReadings(ci_string_view name, NameKind kind, CFileNameExtensions& extensions, int depth = 0) {
  AddOtherReadings(name, kind, extensions, depth);
  // Most names are ASCII: they hold no format character.
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  ci_string visible;
  if (!ascii && WithoutFormatCharacters(name, visible)) AddNameReadings(visible, KindOf(visible), extensions, depth);
}

// The readings of a path decoded once more, as a server that takes it as a
// URL does: what it then opens is a file of that name, in which "#" and ";"
// are ordinary; a "?" no file name holds may still end it. A server that
// cuts a URL's path at its ";" as a path parameter decodes what comes
// before: "http://sp/evil%2Eexe;.pdf" serves "evil.exe".
void AddDecodedReadings(const std::string& path, NameKind kind, CFileNameExtensions& extensions, int depth) {
  const ci_string decoded = ToCI(URLDecode(path));
  AddReading(FileNameOf(decoded), extensions);
  AddReadings(decoded, NameKind::File, extensions, depth);
  const size_t cut = kind == NameKind::Url ? path.find(';') : std::string::npos;
  if (cut != std::string::npos) {
    const ci_string decodedBeforeCut = ToCI(URLDecode(path.substr(0, cut)));
    AddReading(FileNameOf(decodedBeforeCut), extensions);
    AddReading(FileSystemFileName(decodedBeforeCut), extensions);
  }
}

// A server that takes the path as a URL decodes it once more:
// "http://sp/docs/evil%2Eexe" serves "evil.exe", and one that reads
// "%uXXXX" serves "evil%u002Eexe" as "evil.exe" too. `depth` counts the
// readings this one lies in, so that a text decoded again and again ends.
void AddPathDecodedOnceMore(ci_string_view path, NameKind kind, CFileNameExtensions& extensions, int depth) {
  if (FindMark(path, '%') == ci_string_view::npos) return;
  AddDecodedReadings(std::string(path.data(), path.size()), kind, extensions, depth);
  const std::string percentU = WithPercentUAsUtf8(AsStdView(path));
  if (!percentU.empty()) AddDecodedReadings(percentU, kind, extensions, depth);
}

// The text a URL parser reads: without the C0 controls and blanks at its
// ends, which a browser and .NET's Uri both trim, and without tabs and line
// breaks anywhere, which a browser drops; a leading "/\\" or "\\/" is the
// "//" of a network-path reference to a browser. " http://sp/evil.exe#.pdf"
// and "ht<TAB>tp://sp/evil.exe#.pdf" are fetched as "http://sp/evil.exe".
std::string AsUrlParserReadsIt(ci_string_view name) {
  const auto trimmed = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t begin = 0;
  size_t end = name.size();
  while (begin < end && trimmed(name[begin])) ++begin;
  while (end > begin && trimmed(name[end - 1])) --end;
  std::string text;
  text.reserve(end - begin);
  for (size_t i = begin; i < end; ++i) {
    if (name[i] != '\t' && name[i] != '\n' && name[i] != '\r') text += name[i];
  }
  if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]) && text[0] != text[1]) text.replace(0, 2, "//");
  return text;
}

}  // namespace

bool FileNameLosesTrailingCharacters(ci_string_view name) {
  const ci_string_view fileName = FileNameOf(name);
  return WithoutTrailingDotsAndWhiteSpace(fileName).size() != fileName.size();
}

CFileNameExtensions ExtensionsOfFileName(ci_string_view name) {
  CFileNameExtensions extensions;
  extensions.others.reserve(8);  // a URL's readings, in one allocation
  const NameKind kind = KindOf(name);
  const bool url = kind != NameKind::File;
  const ci_string_view path = url ? name.substr(0, FindFirstMarkOf(name, "?#")) : name;
  // A URL's path without an extension of its own ("http://sp/Invoice
  // #123.pdf" cut at its "#") leaves the whole name's, unless that runs past
  // the path ("Budget.pdf?web=1" is the path's ".pdf").
  ExtensionOf(FileNameOf(path), extensions.whole);
  if (url && extensions.whole.empty()) {
    const ci_string_view fileName = FileNameOf(name);
    const size_t dot = FindLastMark(fileName, '.');
    if (dot != ci_string_view::npos && FindFirstMarkOf(fileName, "?#", dot) == ci_string_view::npos) {
      extensions.whole.assign(fileName.substr(dot + 1));
    }
  }
  // The own name may itself be a short name.
  if (FindMark(FileNameOf(path), '~') != ci_string_view::npos && IsShortNameForm(FileNameOf(path))) {
    extensions.shortName = true;
    extensions.shortNameExtensions.push_back(extensions.whole);
  }
  AddReadings(name, kind, extensions);
  AddPathDecodedOnceMore(path, kind, extensions, 0);
  // A name that a URL parser reads otherwise, as a URL where it is one, is
  // read so too. Most names hold no control byte and begin with no blank.
  const bool parserReadsOtherwise =
      std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }) ||
      (!name.empty() && (name.front() == ' ' || name.back() == ' ')) ||
      (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1]) && name[0] != name[1]);
  if (parserReadsOtherwise) {
    const std::string parsed = AsUrlParserReadsIt(name);
    const NameKind parsedKind = KindOf(AsCIView(parsed));
    if (parsedKind != NameKind::File) AddNameReadings(AsCIView(parsed), parsedKind, extensions);
  }
  return extensions;
}
