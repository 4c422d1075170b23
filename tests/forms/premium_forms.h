// Premium forms as the tests build them: OWA's direct file access switched
// on (the module reads no OWA configuration yet, so it is off otherwise), and
// for the document view a fixed access level per extension.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form_with_files.h"

namespace formtest {

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
  using WithDirectAccess<TForm>::WithDirectAccess;

 protected:
  DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool, DWORD& dwLevel) override {
    dwLevel = csExtension == "pdf" ? OwaAttachmentLevel::ForceSave
              : csExtension == "bad" ? 4
                                     : OwaAttachmentLevel::Allowed;
    return 0;
  }
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace formtest
