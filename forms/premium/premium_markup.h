// Markup pieces that the Premium attachment and document-view forms share:
// the context-menu attributes the product's scripts read and the binocular
// images.
#pragma once

#include <string>

#include "common/page_chars.h"

struct PLContextMenuFlags;

// Appends name="value" and a blank. The value is spelt as markup (a name
// copied from the page, a flag, a hash): it goes in as written, only a raw
// double quote, which would end the attribute, becomes "&quot;".
void AppendMenuAttribute(std::string& text, const char* pName, const std::string& value, const CPageChars& page);
// Appends the eight visible and enabled flags ("1" or "0"), Open, Save, Text,
// Rich in that order.
void AppendMenuFlagAttributes(std::string& text, const PLContextMenuFlags& flags, const CPageChars& page);
// Opening or saving is offered: the item is both visible and enabled.
bool IsDirectAccessOffered(const PLContextMenuFlags& flags);

// The product's path of one of its images ("Find.GIF", "Find_Blocked.GIF").
std::string ProductImagePath(const char* pImage);
