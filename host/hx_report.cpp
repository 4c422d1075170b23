#include "host/hx_report.h"

#include <cstdio>

#include "filter/control_message.h"

namespace {
std::string Hex(DWORD v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}
}  // namespace

std::string HxFormatOutcome(const HxRequest& request, const HxOutcome& outcome, const HxReportOptions& options) {
  std::string s = "=== " + (request.sourceName.empty() ? std::string("request") : request.sourceName) + "\n";
  s += request.method + " " + request.target + " " + request.version + "\n";
  if (!outcome.ok) return s + "error: " + outcome.error + "\n";

  if (!outcome.pathRefusal.empty()) {
    s += "refused by the host: 400 Bad Request, " + outcome.pathRefusal + "; the module was not called\n";
  } else if (outcome.routedPath != request.Path()) {
    s += "path as routed: " + outcome.routedPath + "\n";
  }
  s += "client " + request.clientAddress + ", subscription type " + std::to_string(outcome.subscriptionType) +
       (outcome.subscriptionFromUrl ? " (URL rule)" : " (given)") + ", criteria " + std::to_string(request.criteriaId);
  if (!request.identity.empty()) s += ", user " + request.identity.LogonName();
  s += "\n";

  for (const HxNotificationRecord& n : outcome.notifications) {
    s += std::string(HxNotificationName(n.type)) + " (" + Hex(n.type, 0) + "): result " + std::to_string(n.result) +
         ", control " + ControlMessageName(n.controlMessage) + ", flags " + Hex(n.requestFlags, 8) + ", settings " +
         std::to_string(static_cast<int32_t>(n.settingsId)) + "\n";
    for (const HxHeaderChange& h : outcome.headerChanges) {
      if (h.notification != n.type) continue;
      s += std::string("  ") + (h.add ? "add" : "set") + " header " + h.name + " = " + h.value +
           (h.result ? "" : "  (refused)") + "\n";
    }
  }
  if (outcome.instructionsSubmitted) {
    s += "page edits: " + std::to_string(outcome.instructionCount) + " instruction(s), " +
         (outcome.submitResult == 0 ? std::string("applied") : "refused with " + std::to_string(outcome.submitResult)) +
         "\n";
  }
  s += "final URL: " + outcome.finalUrl + (outcome.finalUrl == outcome.originalUrl ? " (unchanged)" : " (rewritten)") +
       "\n";
  s += std::string("answer: ") + HxAnswerKindName(outcome.answerKind) + ", " + std::to_string(outcome.answer.size()) +
       " bytes\n";
  if (options.showAnswer) {
    s += "----- answer -----\n" + outcome.answer;
    if (!outcome.answer.empty() && outcome.answer.back() != '\n') s += "\n";
    s += "----- end -----\n";
  }
  return s;
}
