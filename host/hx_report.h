// The text hxhost prints for one request.
#pragma once

#include <string>

#include "host/hx_host.h"
#include "host/hx_request.h"

struct HxReportOptions {
  bool showAnswer = true;  // print the complete answer (headers and page)
};

std::string HxFormatOutcome(const HxRequest& request, const HxOutcome& outcome, const HxReportOptions& options = {});
