// What the module reports to the event log while the host starts it. A host
// that cannot start the module says why, wherever the reports themselves go
// (syslog, a report file or both): the module names the reason only there.
#pragma once

#include <string>
#include <vector>

// Collects every report made in the process from construction to
// destruction, one line each: "<TYPE> 0x<id>: <text>".
class HxStartEvents {
 public:
  HxStartEvents();
  ~HxStartEvents();
  HxStartEvents(const HxStartEvents&) = delete;
  HxStartEvents& operator=(const HxStartEvents&) = delete;

  std::vector<std::string> Lines() const;

 private:
  friend void HxStartEventsAdd(const std::string& line);
  std::vector<std::string> m_lines;
};
