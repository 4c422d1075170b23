// Replacing a file as a whole: the new content is written to a temporary file
// beside it, flushed to the disk and renamed over the old one, so that a
// crash leaves either the old file or the new one, never a torn one. The
// folder is left as it was found: one fixed temporary name that the next save
// takes over if a save is killed, and the new file with the old one's owner,
// group and mode.
#pragma once

#include <functional>
#include <string>

#include "platform/win_types.h"

// The suffix of the temporary file beside the file being replaced.
constexpr const char* kReplaceTempSuffix = ".saving";

// Calls write with the temporary file's path; when it succeeds, the
// temporary file replaces the file path names. A path that is a symbolic link
// is followed: its final target is replaced and the link stays. The new file
// keeps the owner, group and mode of the one it replaces (without one, it is
// readable by its owner only); a saver that may not give a file away (not
// root, the file another user's) becomes its owner, as an editor's save
// would, and keeps the group where it may.
// Saves of one file wait for each other. On any failure before the rename,
// the temporary file is removed and the file is left untouched; a failure to
// sync the folder after the rename is reported too, the new content then
// being in place but perhaps not on the disk.
HRESULT ReplaceFileContent(const std::string& path, const std::function<HRESULT(const std::string&)>& write);
