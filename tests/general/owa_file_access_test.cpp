#include <gtest/gtest.h>

#include <string>

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

}  // namespace
