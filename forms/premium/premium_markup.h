// Markup pieces that the Premium attachment and document-view forms share:
// the context-menu attributes the product's scripts read, the binocular
// images and the file name as the view link's script call carries it.
#pragma once

#include <string>

struct PLContextMenuFlags;

// Appends name="value" and a blank; the value goes in as it is.
void AppendMenuAttribute(std::string& text, const char* pName, const std::string& value);
// Appends the eight visible and enabled flags ("1" or "0"), Open, Save, Text,
// Rich in that order.
void AppendMenuFlagAttributes(std::string& text, const PLContextMenuFlags& flags);
// Opening or saving is offered: the item is both visible and enabled.
bool IsDirectAccessOffered(const PLContextMenuFlags& flags);

// The product's path of one of its images ("Find.GIF", "Find_Blocked.GIF").
std::string ProductImagePath(const char* pImage);
