// Relative URLs of the product's scripts, pages and images.
#include "forms/hx_form_script_path.h"

#include "forms/cached_script_decorator.h"
#include "forms/hx_form_exception.h"

CHXFormScriptPath::CHXFormScriptPath(const std::string& sProduct, const std::string& sVersion) {
  CHXFormScriptPath::InitializeWithScriptsFolder(sProduct, sVersion);
}

void CHXFormScriptPath::Initialize(const std::string& sBaseFolder, const std::string& sProduct,
                                   const std::string& sVersion) {
  if (sBaseFolder.empty()) throw CHXFormException("Initialize CHXFormScriptPath failed: empty base folder");
  if (sProduct.empty()) throw CHXFormException("Initialize CHXFormScriptPath failed: empty product name");
  if (sVersion.empty()) throw CHXFormException("Initialize CHXFormScriptPath failed: empty version info");
  m_sBaseFolder = sBaseFolder;
  m_sProduct = sProduct;
  m_sVersion = sVersion;
}

void CHXFormScriptPath::InitializeWithScriptsFolder(const std::string& sProduct, const std::string& sVersion) {
  Initialize(kProductScriptsFolder, sProduct, sVersion);
}

std::string CHXFormScriptPath::BuildScriptPath(const std::string& sFileName) const {
  std::string path;
  path.reserve(256);
  return path.append(m_sBaseFolder)
      .append("/")
      .append(m_sProduct)
      .append("/")
      .append(m_sVersion)
      .append("/")
      .append(sFileName);
}

std::string CHXFormScriptPath::GetScriptPathFromScriptManager(const std::string& sFileName,
                                                              const CCachedScriptDecorator* pScriptManager) const {
  if (pScriptManager == nullptr) return std::string();
  return BuildScriptPath(pScriptManager->GetHead() + sFileName);
}
