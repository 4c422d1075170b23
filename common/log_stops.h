// A debug-log file that stops being written (a full or read-only volume, a
// file another user left, a pipe nobody reads) is said once, with the file
// and the reason, and once more when it is written again: the lines in
// between are lost, and an administrator must learn both. Called by the
// sinks under their state lock.
#pragma once

#include <cstdint>
#include <string>

namespace debug_log_detail {

// The file stopped being written, for the reason given in words; said once
// until it is written again. alreadySaid: start-up or the file rule said
// it, so only its end is said.
// full: the volume had no room; the file is then not tried again before
// the volume has room for a few lines (LogWaitsForRoom), so that lines of
// different lengths do not stop and resume it at every line.
void NoteLogStopped(const std::string& file, const std::string& reason, bool alreadySaid = false, bool full = false);

// The file stopped on a full volume, and the volume of the open file fd has
// not got room for a few lines yet: the line is dropped without a write.
bool LogWaitsForRoom(const std::string& file, int fd);

// The wrap-around file met the end of its volume short of its size: it wraps
// around there from now on, which is said once per file (nothing stopped).
void NoteLogEndsAtItsVolume(const std::string& file, int64_t end, int32_t size, int32_t wrap);

// The file took a line; when it had stopped, that is said. Costs a look at
// one flag when nothing stopped.
void NoteLogWritten(const std::string& file);

// What the log held in memory could not be written into the file as the
// process ended (ring: the shared-memory ring's records, which stay in the
// ring; otherwise the last batch of the wrap-around file, which is lost).
// Said once per file.
void NoteWriteOutFailed(const std::string& file, int err, bool ring);

}  // namespace debug_log_detail
