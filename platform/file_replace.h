// Replacing a file as a whole: the new content is written to a temporary file
// beside it, flushed to the disk and renamed over the old one, so that a
// crash leaves either the old file or the new one, never a torn one.
#pragma once

#include <functional>
#include <string>

#include "platform/win_types.h"

// Calls write with the temporary file's path; when it succeeds, the
// temporary file (with the old file's permissions) replaces path. On any
// failure the temporary file is removed and path is left untouched.
HRESULT ReplaceFileContent(const std::string& path, const std::function<HRESULT(const std::string&)>& write);
