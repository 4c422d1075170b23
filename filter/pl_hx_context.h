// The module's own per-request context, kept in the request record from
// authentication complete to end of request.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

class CPLHXContext {
 public:
  // cookie is the request's cookie header; its "cadata=" pair is kept.
  CPLHXContext(const std::string& language, WORD lcid, std::string_view cookie);

  // Every request makes one and ends it: a request's context is the one the
  // thread's last request gave back (its strings' buffers kept), filled as
  // the constructor fills it, or a new one.
  static CPLHXContext* Create(const std::string& language, WORD lcid, std::string_view cookie);
  // Ends a context from Create or new: the thread keeps it, its cookie text
  // cleared, when it keeps none yet, and deletes it otherwise.
  static void Release(CPLHXContext* context);

  std::string m_sUserLanguage;  // product language code, e.g. "en"
  WORD m_wLCID = 0;
  DWORD m_bHasCadata = 0;       // 1 when the cookie holds a non-empty "cadata=" pair
  std::string m_sCadataCookie;  // "cadata=" and its value up to the next ";"
  // Set at authentication complete for an inline fetch from the attachment
  // handler that only an inline image may answer; send response checks it.
  bool m_bAnswerMustBeInlineImage = false;

 private:
  void Fill(const std::string& language, WORD lcid, std::string_view cookie);
};
