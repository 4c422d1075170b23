// Wide texts (wchar_t) and the module's byte texts (UTF-8, its "ANSI" code
// page), on ICU's UTF-8 macros. Bytes that are no valid UTF-8, and wide
// characters without a UTF-8 form, become "?": directory values are shown,
// never trusted as code.
#pragma once

#include <cstdint>
#include <string>

std::wstring WideFromBytes(const std::string& bytes);
std::string BytesFromWide(const std::wstring& wide);

// Appends one code point as UTF-8. The caller decides what is a character:
// a lone surrogate is written as its three bytes.
void AppendUtf8(std::string& out, uint32_t codePoint);
