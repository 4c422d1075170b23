// The relative URL of a product script, page or image:
// "QLScripts/<product>/<version>/<file>". The forms use "Pellora" and "1.9".
#pragma once

#include <string>

class CCachedScriptDecorator;

constexpr const char* kProductScriptsFolder = "QLScripts";
constexpr const char* kProductWord = "Pellora";
constexpr const char* kProductScriptsVersion = "1.9";

class CHXFormScriptPath {
 public:
  // Throws CHXFormException for an empty product word or version.
  CHXFormScriptPath(const std::string& sProduct, const std::string& sVersion);
  virtual ~CHXFormScriptPath() = default;

  // Throws CHXFormException naming the first empty part (folder, product,
  // version).
  virtual void Initialize(const std::string& sBaseFolder, const std::string& sProduct, const std::string& sVersion);
  virtual void InitializeWithScriptsFolder(const std::string& sProduct, const std::string& sVersion);

  std::string BuildScriptPath(const std::string& sFileName) const;
  // The path of the manager's head followed by the file name; empty without
  // a manager.
  std::string GetScriptPathFromScriptManager(const std::string& sFileName,
                                             const CCachedScriptDecorator* pScriptManager) const;

 private:
  std::string m_sBaseFolder;
  std::string m_sVersion;
  std::string m_sProduct;
};
