// The two levels that decide both a request and the page that offers it: the
// direct file access block level and the attachment buttons block level.
// Each is read, judged and reported here only, so that a page never offers
// what its request is then refused, nor hides what its request allows.
#pragma once

#include <cstdint>
#include <string>

#include "settings/handle_pl_settings.h"

class CPLHXGeneralSettings;

namespace BlockLevels {

// A level whose text is no plain decimal number, or a number other than
// 0, 1 or 2.
constexpr int32_t kInvalid = -1;

// The direct file access block level a decision acts on: 0, 1 or 2 as
// written, 1 when no level of the look-up holds it, kInvalid otherwise.
// Every download of a set whose level is kInvalid is refused.
int32_t DirectFileAccessLevelOf(const CHandlePLSettings::LevelValue& value);

// Reports an invalid direct file access block level of a set (text as the
// file gives it) once per load of the settings file.
void ReportInvalidDirectFileAccessLevel(CPLHXGeneralSettings& settings, int32_t settingsId, const std::string& text);

// The direct file access block level of a set, read and judged as above; an
// invalid one is reported.
int32_t ReadDirectFileAccessLevel(CPLHXGeneralSettings& settings, int32_t settingsId);

// The attachment buttons block level of a set: 0, 1 or 2 as written, 0 when
// no level of the look-up holds it. An invalid one is reported once per load
// and leaves the buttons and the attach-file dialog alone, as 0 does.
int32_t ReadAttachmentButtonsLevel(CPLHXGeneralSettings& settings, int32_t settingsId);

}  // namespace BlockLevels
