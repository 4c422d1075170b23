// Attribute reads of the forms, decoded and logged.
#include "forms/get_attribute.h"

#include "common/debug_log.h"
#include "forms/html_char_refs.h"
#include "html/dom_values.h"

namespace {

// The attribute, or an undefined one after logging why.
CDOMAttribute FindAttribute(const CDOMElement& element, const char* pName) {
  if (element.isUndefined() || pName == nullptr) {
    DebugLog("GetAttribute element is undefined");
    return CDOMAttribute();
  }
  CDOMAttribute attribute = element.getAttribute(pName);
  if (attribute.isUndefined()) DebugLog("GetAttribute %s not found", pName);
  return attribute;
}

}  // namespace

bool GetAttribute(const CDOMElement& element, const char* pName, const CPageChars& page, std::string& out) {
  const CDOMAttribute attribute = FindAttribute(element, pName);
  if (attribute.isUndefined()) return false;
  if (!attribute.hasValue()) {
    DebugLog("GetAttribute %s found but has no Value", pName);
    return true;
  }
  out = DecodeHtmlCharacterReferences(attribute.getValue(), page);
  return true;
}

bool GetAttribute(const CDOMElement& element, const char* pName, std::string& out) {
  return GetAttribute(element, pName, CPageChars::Utf8(), out);
}

bool GetAttribute(const CDOMElement& element, const char* pName, ci_string& out) {
  std::string value;
  const bool found = GetAttribute(element, pName, value);
  // Unchanged for an attribute without value, as for the text form.
  if (found && element.getAttribute(pName).hasValue()) out = ToCI(value);
  return found;
}
