// A page as the host hands it to a form: the response buffer with its
// pointer record, a complete request record (request information, mail
// server URL, the module's own context, server variables), the settings of
// the staged sample install loaded into the settings object, and the page
// after the host applied the recorded edits.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "filter/buffer_instruction.h"
#include "filter/core_services.h"
#include "filter/exchange_url.h"
#include "filter/pl_hx_context.h"
#include "filter/request_info.h"
#include "forms/hx_form_context.h"
#include "general/pl_hx_general_settings.h"
#include "host/hx_buffer_apply.h"
#include "host/hx_response_buffer.h"
#include "pipeline/variable_server.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace formtest {

// The settings and resource library of the staged sample install, loaded
// once into the process's settings object.
inline void LoadSampleInstall() {
  static const bool loaded = [] {
    CPLHXGeneralSettings* settings = CPLHXGeneralSettings::getInstance();
    const std::string stage = std::string(HX_BINARY_DIR) + "/stage/Quenlith/";
    std::string settingsDir = stage + "Pellora/Settings/";
    const bool ok = settings->GetHandleSettings().LoadSettings(settingsDir, stage + "Common Files/Settings/") == 0 &&
                    settings->GetResource().LoadModule(stage + "Pellora/Resource/PelrRes64.dll");
    return ok;
  }();
  ASSERT_TRUE(loaded) << "the staged sample install could not be loaded";
}

// The sample install's module settings with more settings sets, in force for
// one scope; the sample's own settings are loaded again after it.
class ExtraSettingSets {
 public:
  explicit ExtraSettingSets(const std::string& sets) {
    LoadSampleInstall();
    std::string text = ReadFile(Stage() + "Pellora/Settings/HXSettings.xml");
    text.insert(text.rfind("</SETTINGS>"), sets);
    m_dir.Write("Pellora/Settings/HXSettings.xml", text);
    // The conversion INI file is found beside the settings folder.
    std::filesystem::create_directory_symlink(Stage() + "Pellora/Engine", m_dir.Path() + "Pellora/Engine");
    EXPECT_EQ(0, Load(m_dir.Path() + "Pellora/Settings/"));
  }
  ~ExtraSettingSets() { EXPECT_EQ(0, Load(Stage() + "Pellora/Settings/")); }
  ExtraSettingSets(const ExtraSettingSets&) = delete;
  ExtraSettingSets& operator=(const ExtraSettingSets&) = delete;

 private:
  static std::string Stage() { return std::string(HX_BINARY_DIR) + "/stage/Quenlith/"; }
  static HRESULT Load(std::string directory) {
    return CPLHXGeneralSettings::getInstance()->GetHandleSettings().LoadSettings(directory,
                                                                                  Stage() + "Common Files/Settings/");
  }
  CTempDir m_dir;
};

class FormPage {
 public:
  explicit FormPage(const std::string& html, DWORD settingsID = 0, const std::string& language = "en",
                    const std::string& contentType = "text/html; charset=utf-8")
      : m_language(language, 1033, "") {
    LoadSampleInstall();
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n\r\n";
    auto* outbound = new HxOutboundContext();
    outbound->SetResponse(headers + html, headers.size());
    m_pOutbound = outbound;
    CDLLContext& r = m_server.record;
    r.m_dwNotificationType = 0x400;
    r.m_spOutboundContext = CCountedPtr<COutboundContext>(outbound);
    r.m_spRequestInfo = CCountedPtr<CRequestInfo>(new CRequestInfo());
    auto* url = new CExchangeURL();
    url->m_sRootURL = "https://mail.example.com/owa/";
    url->m_sBasePath = "/owa/";
    r.m_spExchangeURL = CCountedPtr<CExchangeURL>(url);
    r.m_pMyOwnContext = &m_language;
    r.m_pCoreServices = &m_services;
    r.m_dwSettingsID = settingsID;
    m_server.variables["HEADER_QL_CSMPREFIX"] = "csm01/v2/";
    m_server.variables["REMOTE_ADDR"] = "127.0.0.1";
  }

  CDLLContext& Record() { return m_server.record; }
  VariableServer& Server() { return m_server; }
  CBufferInstructionList& List() { return m_list; }

  // A new context over the page; throws what the context throws.
  std::unique_ptr<CHXFormContext> Context() { return std::make_unique<CHXFormContext>(&m_server.record, &m_list); }

  // The page after the host applied the recorded edits.
  std::string Applied() const {
    std::string out;
    const std::string& buffer = m_pOutbound->Buffer();
    if (HxApplyBufferInstructions(buffer.data(), buffer.size(), m_list, out) != 0) return "<refused>";
    return out.substr(m_pOutbound->BodyOffset());
  }

 private:
  CPLHXContext m_language;
  CCoreServices m_services;
  VariableServer m_server;
  CBufferInstructionList m_list;
  HxOutboundContext* m_pOutbound = nullptr;
};

}  // namespace formtest
