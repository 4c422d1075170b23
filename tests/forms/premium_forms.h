// Premium forms as the tests build them: OWA's direct file access switched
// on (the module reads no OWA configuration yet, so it is off otherwise), and
// for the document view a fixed access level per extension.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/ci_string.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form_with_files.h"
#include "general/pl_hx_general_settings.h"

namespace formtest {

// The script-variable prefixes that start-up copies into the settings object.
inline void LoadScriptVariables() { CPLHXGeneralSettings::getInstance()->LoadScriptVariables(); }

template <class TForm>
class WithDirectAccess : public TForm {
 public:
  explicit WithDirectAccess(CHXFormContext* pFormContext) : CPLForm(pFormContext), TForm(pFormContext, 0) {}
  bool IsDirectFileAccessEnabledByOWA(bool) const override { return true; }
};

// pdf is force-save, "bad" an invalid level, everything else allowed.
template <class TForm>
class WithAccessLevels : public WithDirectAccess<TForm> {
 public:
  explicit WithAccessLevels(CHXFormContext* pFormContext)
      : CPLForm(pFormContext), WithDirectAccess<TForm>(pFormContext) {}

 protected:
  DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool, DWORD& dwLevel) override {
    dwLevel = csExtension == "pdf"   ? OwaAttachmentLevel::ForceSave
              : csExtension == "bad" ? 4
                                     : OwaAttachmentLevel::Allowed;
    return 0;
  }
};

// Tests of Premium forms; the settings object holds the script-variable
// prefixes as after start-up.
class PremiumFormTest : public ::testing::Test {
 protected:
  void SetUp() override { LoadScriptVariables(); }
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace formtest
