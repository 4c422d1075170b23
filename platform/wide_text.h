// Wide texts (wchar_t) and the module's byte texts (UTF-8, its "ANSI" code
// page), on iconv. Bytes that are no valid UTF-8, and characters without a
// UTF-8 form, become "?": directory values are shown, never trusted as code.
#pragma once

#include <string>

std::wstring WideFromBytes(const std::string& bytes);
std::string BytesFromWide(const std::wstring& wide);
