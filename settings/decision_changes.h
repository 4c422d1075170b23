// What a reload changed of the settings that decide downloads: the block
// levels (43, 51) wherever they stand, the address ranges (45) and the
// source of the address they are matched with (85), the bypass
// list (48, 49) and the links of criteria to settings sets. A reload that
// changes any of them says so in one information event, so that an install
// that put sample settings in place, or an edit, cannot change what is
// allowed unseen.
#pragma once

#include <map>
#include <string>

#include "settings/settings_snapshot.h"

// Each deciding setting by where it stands ("setting 43 of <SETTING ID=\"1\">")
// to its text as loaded.
using DecisionDigest = std::map<std::string, std::string>;

DecisionDigest DigestOfDecisions(const CSettingsSnapshot& snapshot, int32_t hxID);
// "setting 43 of <SETTING ID="1"> ("2" -> "1"), ..."; empty when nothing changed.
std::string DescribeDecisionChanges(const DecisionDigest& before, const DecisionDigest& after);
