// Reads one attribute of a DOM element, with logging. The value comes with
// its HTML character references decoded ("&amp;" is "&"), because pages write
// URLs, identifiers and script arguments that way; positions for edits are
// taken from the attribute itself, never from this text.
#pragma once

#include <string>

#include "common/ci_string.h"

class CDOMElement;
class CPageChars;

// False for an undefined element, a null name or a missing attribute. An
// attribute written without "=" is found: true, out unchanged.
bool GetAttribute(const CDOMElement& element, const char* pName, std::string& out);
bool GetAttribute(const CDOMElement& element, const char* pName, ci_string& out);
// The same for a value the form writes back into the page: references are
// decoded into the page's character set (see DecodeHtmlCharacterReferences).
bool GetAttribute(const CDOMElement& element, const char* pName, const CPageChars& page, std::string& out);
