#include "forms/premium/premium_markup.h"

#include "forms/hx_form_script_path.h"
#include "forms/page_values.h"
#include "forms/pl_form_with_files.h"

void AppendMenuAttribute(std::string& text, const char* pName, const std::string& value) {
  text += pName;
  text += "=\"";
  text += MarkupInDoubleQuotedAttribute(value);
  text += "\" ";
}

void AppendMenuFlagAttributes(std::string& text, const PLContextMenuFlags& flags) {
  const auto flag = [](bool b) { return std::string(b ? "1" : "0"); };
  AppendMenuAttribute(text, "_QLPLOpenVisible", flag(flags.bOpenVisible));
  AppendMenuAttribute(text, "_QLPLOpenEnabled", flag(flags.bOpenEnabled));
  AppendMenuAttribute(text, "_QLPLSaveVisible", flag(flags.bSaveVisible));
  AppendMenuAttribute(text, "_QLPLSaveEnabled", flag(flags.bSaveEnabled));
  AppendMenuAttribute(text, "_QLPLTextVisible", flag(flags.bTextVisible));
  AppendMenuAttribute(text, "_QLPLTextEnabled", flag(flags.bTextEnabled));
  AppendMenuAttribute(text, "_QLPLRichVisible", flag(flags.bRichVisible));
  AppendMenuAttribute(text, "_QLPLRichEnabled", flag(flags.bRichEnabled));
}

bool IsDirectAccessOffered(const PLContextMenuFlags& flags) {
  return (flags.bOpenVisible && flags.bOpenEnabled) || (flags.bSaveVisible && flags.bSaveEnabled);
}

std::string ProductImagePath(const char* pImage) {
  return CHXFormScriptPath(kProductWord, kProductScriptsVersion).BuildScriptPath(pImage);
}
