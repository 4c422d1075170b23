// OWA's file access level for an extension (1 blocked, 2 force-save,
// 3 allowed), as the virtual directory's configuration gives it to this
// class of client (public or private computer).
#pragma once

#include "common/ci_string.h"
#include "platform/win_types.h"

// 0 with level 1 when OWA's direct file access is off for the client class;
// 13 for an extension that begins with "." or when the level cannot be
// settled.
DWORD GetOWAFileAccessLevel(const ci_string& csExtension, bool bDirectFileAccessEnabled, bool bPublicClient,
                            DWORD& dwLevel);
