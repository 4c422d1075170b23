// The conversion engine's symbolic option values ("KVGFX_PNG", "KVCS_UTF8",
// "KVSTYLE_HEADING1", ...) as the numbers the engine takes.
#pragma once

#include <cstdint>

// The number of the name, compared exactly and with case. An empty text gives
// 0 silently; an unknown name gives 0 and is logged.
int32_t ConversionConstantValue(const char* text);
