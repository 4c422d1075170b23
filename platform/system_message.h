// The system's message texts for the Win32 error codes and HRESULTs this
// module meets, in English, without a line end. Unknown codes have no text.
#pragma once

#include <string>

#include "platform/win_types.h"

std::string SystemMessageText(DWORD code);
