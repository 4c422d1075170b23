// Text-to-number conversions of the settings files, with the C runtime's
// reading rules but without its undefined behaviour on overflow.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// atoi/_wtoi: leading blanks, one sign, decimal digits up to the first other
// character; no digits give 0; values beyond the 32-bit range are clamped.
int32_t SettingsTextToInt(const char* text);
// A plain decimal number: one to nine digits and nothing else (no blank,
// sign, fraction or base prefix). False for any other text.
bool ReadPlainDecimal(const std::string& text, int32_t* value);
// The one reader of the settings files' numbers and IDs: a decimal number,
// blanks (space, tab) around it allowed, a "-" only when min is negative,
// and nothing else ("+2", "2x", "0x2", "2.0" and "" are no numbers); false
// also for a number outside [min, max], however many digits it has.
bool ReadSettingsNumber(const std::string& text, int32_t min, int32_t max, int32_t* value);
// strtol in base 10 or 16 ("0x" accepted in base 16), clamped to 32 bits.
int32_t SettingsTextToLong(const std::string& text, int base);
// Every part, empty ones included ("a;;b;" gives a, "", b, "").
std::vector<std::string> SplitAll(const std::string& text, char delimiter);
