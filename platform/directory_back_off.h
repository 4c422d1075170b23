// The back-off of directories found dead or refusing the credentials:
// connections to such a directory fail at once for the retry interval; then
// one thread probes it on a new connection while the others go on failing
// at once until that probe has its answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// Whether connections to `uri` fail at once now, and whether for refused
// credentials. When its back-off has lapsed and `prober` is given, the
// calling thread becomes the one that probes the directory (*prober true)
// and must end the probe (EndProbe or MarkUnreachable); without `prober` a
// lapsed back-off only reads as over.
bool InBackOff(const std::string& uri, bool* prober, bool* refused = nullptr);

// Whether any directory is in its back-off, without a lock.
bool AnyBackOff();

// Starts (or starts again) the back-off of `uri`; a probe running ends.
// Every kept connection is retired.
void MarkUnreachable(const std::string& uri, bool refused = false);

// The probe of `uri` had an answer: the directory is reachable again. The
// new generation of connections, or 0 when the probe ended in a new back-off.
uint64_t EndProbe(const std::string& uri);

// How long a back-off lasts now.
std::chrono::milliseconds RetryInterval();
void SetRetryInterval(std::chrono::milliseconds interval);

// Called after a probe found a directory answering again (at most one
// callback; null for none). It runs on the probing request thread: it must
// only hand the news on.
void SetDirectoryAnswersAgainCallback(void (*callback)());

// Ends the calling thread's probe on every way out, unless handed on.
class CProbe {
 public:
  CProbe(std::string uri, bool active) : m_uri(std::move(uri)), m_active(active) {}
  ~CProbe() {
    if (m_active) EndProbe(m_uri);
  }
  CProbe(const CProbe&) = delete;
  CProbe& operator=(const CProbe&) = delete;
  // Whether this thread probes; from now on the caller ends the probe.
  bool HandOn() {
    const bool active = m_active;
    m_active = false;
    return active;
  }

 private:
  std::string m_uri;
  bool m_active;
};
