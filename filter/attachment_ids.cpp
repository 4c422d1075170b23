#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "common/string_utils.h"
#include "filter/notifications_helper.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"

DWORD CNotificationsHelper::GetRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::vector<std::string>& ids) {
  DWORD dwRet = 0;
  ids.clear();
  DebugLog("[CNotificationsHelper::GetRequestParamAttIDs] Starts.");
  if (pRequestInfo == nullptr) {
    DebugLog("[CNotificationsHelper::GetRequestParamAttIDs] spRequestInfo is NULL");
    dwRet = HX_RC_MISSING;
  } else {
    ci_string count;
    if (pRequestInfo->GetParamValue("attcnt", count)) {
      DWORD parsed = 0;
      if (!CStringOperation::String2Int(count, parsed, 10, 0, ci_string::npos, true)) {
        DebugLog("[CNotificationsHelper::GetRequestParamAttIDs] CStringOperation::String2Int failed. csAttCntValue <%s>.",
                 count.c_str());
        dwRet = ERROR_INVALID_DATA;
      } else {
        // A negative count reads as no attachments.
        const int32_t n = static_cast<int32_t>(parsed);
        for (int32_t i = 0; i < n; ++i) {
          const ci_string name = "attid" + ToCI(std::to_string(i));
          ci_string id;
          if (!pRequestInfo->GetParamValue(name, id)) {
            DebugLog("[CNotificationsHelper::GetRequestParamAttIDs] CRequestInfo::GetParamValue failed. csAttIDAttr <%s>.",
                     name.c_str());
            dwRet = ERROR_INVALID_DATA;
            break;
          }
          ids.push_back(ToStd(id));
        }
      }
    }
  }
  DebugLog("[CNotificationsHelper::GetRequestParamAttIDs] returned dwRet <%d>.", dwRet);
  return dwRet;
}

namespace {

// The viewer computes its hashes over this very text, dropped last character
// included; both overloads must join the same way.
std::string JoinAttachmentIDs(const std::vector<std::string>& ids) { return JoinStrings("", ids); }

}  // namespace

DWORD CNotificationsHelper::ConcatRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::string& joined) {
  DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] Starts.");
  joined.clear();
  std::vector<std::string> ids;
  const DWORD dwRet = GetRequestParamAttIDs(pRequestInfo, ids);
  if (dwRet != 0) {
    DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] GetRequestParamAttIDs() failed.");
  } else {
    joined = JoinAttachmentIDs(ids);
  }
  DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] returned dwRet <%d>.", dwRet);
  return dwRet;
}

DWORD CNotificationsHelper::ConcatRequestParamAttIDs(const CRequestInfo* pRequestInfo, std::string& allButLast,
                                                     std::string& last) {
  DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] Starts.");
  allButLast.clear();
  last.clear();
  std::vector<std::string> ids;
  const DWORD dwRet = GetRequestParamAttIDs(pRequestInfo, ids);
  if (dwRet != 0) {
    DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] GetRequestParamAttIDs() failed.");
  } else if (!ids.empty()) {
    last = ids.back();
    ids.pop_back();
    allButLast = JoinAttachmentIDs(ids);
  }
  DebugLog("[CNotificationsHelper::ConcatRequestParamAttIDs] returned dwRet <%d>.", dwRet);
  return dwRet;
}
