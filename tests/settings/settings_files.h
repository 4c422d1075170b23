// Small settings documents for the tests, written into a scratch directory
// laid out like the install tree.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

inline std::string Item(int id, const std::string& value, const std::string& descr = "d") {
  return "<ITEM ID=\"" + std::to_string(id) + "\" DESCR=\"" + descr + "\" VALUE=\"" + value + "\"/>";
}

// A file loads only when it holds a settings set. Unless general names its
// own conversion-options INI file (setting 1), a path with a drive is named here: it
// stands as it is wherever the file lies, and, missing, gives every option
// its default.
inline std::string ModuleSettings(const std::string& general, const std::string& sets,
                                  const std::string& highSpeed = "") {
  const std::string ini = general.find("ID=\"1\"") == std::string::npos ? Item(1, "C:/Engine/conv.ini") : "";
  // Nor does a file without a settings set: unless sets brings its own, an
  // empty set 900 stands in, which every lookup passes by to the defaults.
  const std::string set = sets.find("<SETTING ") == std::string::npos ? "<SETTING ID=\"900\" DESCR=\"d\"/>" : "";
  return "<?xml version=\"1.0\"?>\n<SETTINGS><GENERALSETTINGS>" + ini + general + "</GENERALSETTINGS>" + highSpeed +
         sets + set + "</SETTINGS>";
}

inline std::string Links(const std::string& body) { return "<?xml version=\"1.0\"?>\n<HEXMOORS>" + body + "</HEXMOORS>"; }

// <dir>/Vendor/Product/Settings/ and <dir>/Vendor/Common Files/Settings/.
struct CInstallTree {
  CTempDir dir;
  std::string SettingsDir() const { return dir.Path() + "Vendor/Product/Settings/"; }
  std::string ModulePath() const { return SettingsDir() + "HXSettings.xml"; }
  std::string LinksPath() const { return dir.Path() + "Vendor/Common Files/Settings/LinkCriteriaSettings.xml"; }
  void WriteModule(const std::string& text) const { dir.Write("Vendor/Product/Settings/HXSettings.xml", text); }
  void WriteLinks(const std::string& text) const {
    dir.Write("Vendor/Common Files/Settings/LinkCriteriaSettings.xml", text);
  }
  // Replaces a file in one step with its time already set, as an
  // administrator's tool that writes a copy and renames it would.
  static void Replace(const std::string& path, const std::string& text, long seconds) {
    const std::string temp = path + ".new";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out << text;
    }
    SetFileTimeSeconds(temp, seconds);
    std::rename(temp.c_str(), path.c_str());
  }
};
