#include <gtest/gtest.h>

#include <string>

#include "common/debug_log.h"
#include "general/owa_file_access.h"
#include "general/pl_hx_general_settings.h"
#include "platform/registry.h"
#include "support/temp_dir.h"

namespace {

// The settings object with an OWA configuration set by the test, as the
// directory read at start-up would leave it.
class OWARules : public CPLHXGeneralSettings {
 public:
  COWAADConfig& Config() { return m_OWAADConfig; }
  // As the background read publishes the configuration it read again.
  void Publish(const COWAADConfig& read) { m_pOWAConfig.store(&read); }
  DWORD Level(const char* extension, bool publicClient = false, DWORD* result = nullptr) {
    DWORD level = 99;
    const DWORD rc = GetOWAFileAccessLevel(extension, publicClient, level);
    if (result != nullptr) *result = rc;
    return level;
  }
};

TEST(OWAFileAccessLevel, ListsInOrderThenTheUnknownTypeAction) {
  OWARules rules;
  COWAADConfig& c = rules.Config();
  c.m_nFileAccessControlOnPrivateComputers = 1;
  c.m_nFileAccessControlOnPublicComputers = 2;  // bit 0 clear: nothing for public clients
  c.m_vAllowedFileTypes = {".pdf", ".txt"};
  c.m_vBlockedFileTypes = {".exe", ".TXT"};
  c.m_vForceSaveFileTypes = {".doc"};
  c.m_nActionForUnknownFileAndMIMETypes = 2;

  EXPECT_EQ(3u, rules.Level("PDF"));
  EXPECT_EQ(3u, rules.Level("txt"));  // the allow list is asked first
  EXPECT_EQ(2u, rules.Level("doc"));
  EXPECT_EQ(1u, rules.Level("docx"));  // whole entries only: the unknown-type action
  EXPECT_EQ(1u, rules.Level("pdf", true));

  DWORD rc = 0;
  EXPECT_EQ(0u, rules.Level(".pdf", false, &rc));
  EXPECT_EQ(13u, rc);
  // Disabled for the class is decided before the extension is looked at.
  EXPECT_EQ(1u, rules.Level(".pdf", true, &rc));
  EXPECT_EQ(0u, rc);

  c.m_nActionForUnknownFileAndMIMETypes = -1;
  EXPECT_EQ(2u, rules.Level(""));
  c.m_nActionForUnknownFileAndMIMETypes = 1;
  EXPECT_EQ(0u, rules.Level("zip", false, &rc));
  EXPECT_EQ(13u, rc);
}

TEST(OWAFileAccessLevel, MimeListsMatchTheRegisteredContentType) {
  CTempDir dir;
  SetRegistryFilePath(dir.Write("r.reg",
                                "Windows Registry Editor Version 5.00\r\n\r\n"
                                "[HKEY_CLASSES_ROOT\\.pdf]\r\n\"Content Type\"=\"application/PDF\"\r\n"
                                "[HKEY_CLASSES_ROOT\\.bin]\r\n\"Content Type\"=dword:00000001\r\n"));
  OWARules rules;
  COWAADConfig& c = rules.Config();
  c.m_nFileAccessControlOnPrivateComputers = 1;
  c.m_vBlockedMIMETypes = {"application/pdf"};
  c.m_nActionForUnknownFileAndMIMETypes = 0;

  ci_string mime;
  EXPECT_TRUE(IdentifyContentType(".pdf", mime));
  EXPECT_EQ("application/pdf", mime);
  EXPECT_FALSE(IdentifyContentType(".bin", mime));  // not a text value
  EXPECT_EQ(1u, rules.Level("pdf"));
  EXPECT_EQ(3u, rules.Level("bin"));
  EXPECT_FALSE(rules.IsExtensionInOWABlockList("pdf"));  // needs its dot
  SetRegistryFilePath("");
}

// A configuration read again is published while a decision is under way:
// the decision is the old configuration's or the new one's, never a mix.
TEST(OWAFileAccessLevel, OneConfigurationForTheWholeDecision) {
  static OWARules* rules = nullptr;
  static COWAADConfig* read = nullptr;
  OWARules old;  // no lists; unknown types blocked
  old.Config().m_nFileAccessControlOnPrivateComputers = 1;
  old.Config().m_nActionForUnknownFileAndMIMETypes = 2;
  COWAADConfig again;  // ".exe" blocked; unknown types allowed
  again.m_nFileAccessControlOnPrivateComputers = 1;
  again.m_vBlockedFileTypes = {".exe"};
  again.m_nActionForUnknownFileAndMIMETypes = 0;
  rules = &old;
  read = &again;
  // Published right after the block list was asked.
  const LogSinkFn previousSink = GetLogSink();
  const DWORD previousMode = GetLogMode();
  SetLogSink([](const char* text) {
    if (std::string(text).find("IsExtensionInOWABlockList] returned") != std::string::npos) rules->Publish(*read);
  });
  SetLogMode(LOG_MODE_WRITE);
  const DWORD level = old.Level("exe");
  SetLogMode(previousMode);
  SetLogSink(previousSink);
  EXPECT_EQ(OWAFileAccessLevel::Blocked, level);
}

}  // namespace
