// A sample request of samples/requests/ run through the filter host with the
// staged module, and the page that goes to the client after the host applied
// the module's edits, saved as <build>/applied_pages/<request name>.html for
// the browser check (and for a look by hand), with the answer's header lines
// beside it as <request name>.html.headers, which the browser check serves it
// with.
#pragma once

#include <string>

#include "host/hx_host.h"

struct AppliedPage {
  HxOutcome outcome;
  std::string page;  // the answer's body: the page as the client gets it
  std::string path;  // where the page was saved; empty when it was not
};

// The host over the staged sample install, started once.
HxHost& SampleHost();

// Runs samples/requests/<requestFile> (its @response-page included) and saves
// the page. Test failures are recorded for a request that does not run.
AppliedPage RunSampleRequest(const std::string& requestFile);

// The same for a request description given as text; relative page paths are
// read from samples/requests/. name names the saved page.
AppliedPage RunRequestText(const std::string& description, const std::string& name);
