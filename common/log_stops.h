// A debug-log file that stops being written (a full or read-only volume, a
// file another user left, a pipe nobody reads) is said once, with the file
// and the reason, and once more when it is written again: the lines in
// between are lost, and an administrator must learn both. Called by the
// sinks under their state lock.
#pragma once

#include <string>

namespace debug_log_detail {

// The file stopped being written, for the reason given in words; said once
// until it is written again. alreadySaid: start-up or the file rule said
// it, so only its end is said.
void NoteLogStopped(const std::string& file, const std::string& reason, bool alreadySaid = false);

// The file took a line; when it had stopped, that is said. Costs a look at
// one flag when nothing stopped.
void NoteLogWritten(const std::string& file);

// What the log held in memory could not be written into the file as the
// process ended (ring: the shared-memory ring's records, which stay in the
// ring; otherwise the last batch of the wrap-around file, which is lost).
// Said once per file.
void NoteWriteOutFailed(const std::string& file, int err, bool ring);

}  // namespace debug_log_detail
