// Texts every form repeats: flags in log lines, the product script block
// around the variables a form writes into a page, JavaScript string escaping,
// and the closing banner of Process.
#pragma once

#include <string>

#include "common/log_words.h"
#include "platform/win_types.h"

class CHXFormContext;

// "<script language='javascript'>\r\n//QUENLITH PELLORA\r\n" + lines +
// "\r\n//QUENLITH PELLORA\r\n</script>". Each line of `lines` ends with "\r\n".
std::string ProductScriptBlock(const std::string& lines);
// Lines of that block: prefix + value + "\";\r\n" (the prefix ends with the
// opening quote), and prefix + "1" or "0" + ";\r\n".
void AppendStringLine(std::string& sLines, const char* pPrefix, const std::string& sValue);
void AppendFlagLine(std::string& sLines, const char* pPrefix, bool bValue);

// A file name inside a script string of a page attribute (onClick='...'):
// every "'" and every "&quot;" written as "&#39;", so neither the attribute
// nor the script string ends early; the attribute gives it back to the script
// as an apostrophe.
std::string ScriptSafeFileName(const std::string& sFileName);

// The closing banner of a form's Process, each line opened by pPrefix
// (e.g. "[CPLBasicFormItem::Process] "): 76 asterisks, pMiddle, 75 asterisks.
void LogProcessBanner(const char* pPrefix, const std::string& middle);
// "*** Modifying <template> form SUCCEEDED! ***" ("NULL" without a context or
// template, "FAILED" for a non-zero result).
std::string ModifyingBannerText(const CHXFormContext* pFormContext, DWORD dwRet);
// The usual closing: the banner with ModifyingBannerText, then
// "<prefix>method returned: <dwRet>".
void LogProcessFinished(const char* pPrefix, const CHXFormContext* pFormContext, DWORD dwRet);
