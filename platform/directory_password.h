// The password of the directory's simple bind, from the file that
// HX_LDAP_PASSWORD_FILE names. The file is read once, through the settings
// files' reader (no pipe, device or folder; a length limit), never when
// another user could have put it or a link to it there, and read again
// only when its name or the file itself changes (a corrected file is used at
// the next connection, without a restart): connections do not each open it,
// so a pipe cannot hold one and a writer that gives the password once gives
// it to every connection.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/win_types.h"

// The longest password file read: a password is one line.
constexpr size_t kDirectoryPasswordFileMaxBytes = 4096;

// The password of `file` (HX_LDAP_PASSWORD_FILE): S_OK with it, or the
// failure of a file that cannot be used, with the reason in words in `why`
// (which never holds the file's content). A name that is not an absolute
// path is not used: it may be the password itself, typed in the file's
// place. `stamp`, when given, is the file's as it was when what is returned
// was read: a bind refused with that password waits for it to change.
HRESULT DirectoryPassword(const char* file, std::string& password, std::string& why, CFileStamp* stamp = nullptr);

// How events and logs name the password file: its path, or, for one that is
// not an absolute path, words that do not show it.
std::string DirectoryPasswordFileName(const char* file);

// Called once for each file that cannot be used (and again when it changes
// and still cannot): the text says which file, why, and what the module does
// instead. Called as well, as a `warning`, for a file that is used but that
// every user may read. It runs on the thread that connects: it must only
// hand the text on. At most one callback; null for none.
void SetDirectoryPasswordReportCallback(void (*callback)(const std::string& text, bool warning));
