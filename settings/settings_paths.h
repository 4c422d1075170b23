// Where the settings files live: "HXSettings.xml" in the product's own
// "Settings/" folder, "LinkCriteriaSettings.xml" in "Common Files/Settings/"
// of the folder that holds the product's folder.
#pragma once

#include <string>

constexpr const char* kModuleSettingsFileName = "HXSettings.xml";
constexpr const char* kLinkCriteriaFileName = "LinkCriteriaSettings.xml";

// From ".../<vendor>/<product>/Settings/" gives ".../<vendor>/Common Files/Settings/".
// Either separator is understood; the result joins with "/". A path with too
// few folders to go up is returned as it is.
std::string GetCommonSettingsDirectory(const std::string& settingsDirectory);
