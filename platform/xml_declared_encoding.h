// The character set an XML file declares in its first line, for a file the
// parser would otherwise read as UTF-8: one written one byte per character
// (no byte-order mark, no UTF-16 or UTF-32 form) whose declaration names
// another set, such as windows-1252, is converted to UTF-8 here, so that
// "é" is read as the administrator's editor wrote it. A set this reader
// does not know, one that does not write markup as ASCII does (UTF-7,
// ISO-2022, EBCDIC), or bytes that are not in it, refuse the file: a
// settings text read in the wrong set is a wrong setting that nobody sees.
#pragma once

#include <cstddef>
#include <string>

// The set named by the encoding declaration of bytes ("windows-1252"), or
// empty when there is none or the bytes start with a byte-order mark or in
// a UTF-16 or UTF-32 form.
std::string DeclaredEightBitEncoding(const std::string& bytes);

// Converts bytes to UTF-8 when they declare another set; true when bytes may
// be parsed (converted, or left as they were), false with the reason in
// words when the file is refused.
bool ConvertDeclaredEncodingToUTF8(std::string& bytes, std::string* reason);

// Where the first bytes that are not well-formed UTF-8 start (an overlong
// form, a surrogate, a code point past U+10FFFF, a cut sequence), npos when
// every byte is.
size_t FirstByteNotUTF8(const std::string& bytes);
