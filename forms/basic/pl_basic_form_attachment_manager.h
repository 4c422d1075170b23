// The Basic attachment manager: the list of blocked extensions for the page's
// own attach script, the cached-script prefix on that script's link, and the
// attachment rewriting of the "delFrm" form's attachments.
#pragma once

#include <string>

#include "forms/basic/pl_basic_form_with_attachments.h"
#include "platform/win_types.h"

class CPLBasicFormAttachmentManager : public CPLBasicFormWithAttachments {
 public:
  // Invalid unless "hidid" names the item.
  CPLBasicFormAttachmentManager(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLBasicFormAttachmentManager() override;

  DWORD Process() override;
  bool AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) override;
  // g_szExtBlocked and the blocked extensions, right after HEAD's start tag.
  DWORD InsertAttachFileJavaScriptVariables();

 private:
  DWORD ProcessSteps();
};
