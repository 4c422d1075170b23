#include "forms/premium/premium_markup.h"

#include "forms/hx_form_script_path.h"
#include "forms/page_values.h"
#include "forms/pl_form_with_files.h"

void AppendMenuAttribute(std::string& text, const char* pName, const std::string& value, const CPageChars& page) {
  text += pName;
  text += "=\"";
  text += MarkupInDoubleQuotedAttribute(value, page);
  text += "\" ";
}

void AppendMenuFlagAttributes(std::string& text, const PLContextMenuFlags& flags, const CPageChars& page) {
  const auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  AppendMenuAttribute(text, "_QLPLOpenVisible", flag(flags.bOpenVisible), page);
  AppendMenuAttribute(text, "_QLPLOpenEnabled", flag(flags.bOpenEnabled), page);
  AppendMenuAttribute(text, "_QLPLSaveVisible", flag(flags.bSaveVisible), page);
  AppendMenuAttribute(text, "_QLPLSaveEnabled", flag(flags.bSaveEnabled), page);
  AppendMenuAttribute(text, "_QLPLTextVisible", flag(flags.bTextVisible), page);
  AppendMenuAttribute(text, "_QLPLTextEnabled", flag(flags.bTextEnabled), page);
  AppendMenuAttribute(text, "_QLPLRichVisible", flag(flags.bRichVisible), page);
  AppendMenuAttribute(text, "_QLPLRichEnabled", flag(flags.bRichEnabled), page);
}

bool IsDirectAccessOffered(const PLContextMenuFlags& flags) {
  return (flags.bOpenVisible && flags.bOpenEnabled) || (flags.bSaveVisible && flags.bSaveEnabled);
}

std::string ProductImagePath(const char* pImage) {
  return CHXFormScriptPath(kProductWord, kProductScriptsVersion).BuildScriptPath(pImage);
}
