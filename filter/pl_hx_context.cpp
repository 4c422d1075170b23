#include "filter/pl_hx_context.h"

#include <memory>

#include "filter/cookie_view.h"
#include "platform/thread_local_instance.h"

namespace {

struct CKeptContext {
  std::unique_ptr<CPLHXContext> context;
};

// The thread's kept context.
std::unique_ptr<CPLHXContext>& Kept() { return ThreadLocalInstance<CKeptContext>().context; }

}  // namespace

CPLHXContext::CPLHXContext(const std::string& language, WORD lcid, std::string_view cookie) {
  Fill(language, lcid, cookie);
}

void CPLHXContext::Fill(const std::string& language, WORD lcid, std::string_view cookie) {
  m_sUserLanguage = language;
  m_wLCID = lcid;
  m_bAnswerMustBeInlineImage = false;
  // The forms write this pair back into the pages they rewrite.
  std::string_view pair;
  const BOOL found = CadataCookieView(AsCIView(cookie), pair);
  m_sCadataCookie.assign(pair.data(), pair.size());
  m_bHasCadata = (found && !m_sCadataCookie.empty()) ? 1 : 0;
}

CPLHXContext* CPLHXContext::Create(const std::string& language, WORD lcid, std::string_view cookie) {
  std::unique_ptr<CPLHXContext>& kept = Kept();
  if (kept == nullptr) return new CPLHXContext(language, lcid, cookie);
  CPLHXContext* context = kept.release();
  context->Fill(language, lcid, cookie);
  return context;
}

void CPLHXContext::Release(CPLHXContext* context) {
  if (context == nullptr) return;
  std::unique_ptr<CPLHXContext>& kept = Kept();
  if (kept != nullptr) {
    delete context;
    return;
  }
  // A session's cookie does not outlive its request in the kept context.
  context->m_sCadataCookie.clear();
  kept.reset(context);
}
