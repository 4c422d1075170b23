#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "general/pl_hx_general_settings.h"
#include "support/temp_dir.h"
#include "variable_server.h"

namespace {

// The pipeline tests' settings files, with setting 85 (client address
// source) as given, loaded into the process's settings object.
class ClientIPTest : public ::testing::Test {
 protected:
  void LoadWithClientIPSource(const char* source) {
    const std::string data = std::string(HX_SOURCE_DIR) + "/tests/pipeline_e2e/data/";
    std::ifstream in(data + "HXSettings.xml");
    std::stringstream text;
    text << in.rdbuf();
    std::string xml = text.str();
    const std::string item = "<ITEM ID=\"85\" DESCR=\"Client address source\" VALUE=\"0\"/>";
    const size_t at = xml.find(item);
    ASSERT_NE(std::string::npos, at);
    xml.replace(at, item.size(), std::string("<ITEM ID=\"85\" DESCR=\"Client address source\" VALUE=\"") + source +
                                     "\"/>");
    std::ifstream links(data + "LinkCriteriaSettings.xml");
    std::stringstream linkText;
    linkText << links.rdbuf();
    m_tree.Write("Settings/HXSettings.xml", xml);
    m_tree.Write("LinkCriteriaSettings.xml", linkText.str());
    std::string dir = m_tree.Path() + "Settings/";
    ASSERT_EQ(S_OK, CPLHXGeneralSettings::getInstance()->GetHandleSettings().LoadSettings(dir, m_tree.Path()));
  }

  bool Allowed(VariableServer& s) {
    bool allowed = true;
    EXPECT_EQ(0u, CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(&s.record, allowed));
    return allowed;
  }

  CTempDir m_tree;
};

TEST_F(ClientIPTest, AddressSourcesInOrder) {
  LoadWithClientIPSource("0");
  VariableServer s;
  s.record.m_dwSettingsID = 1;  // range 10.0.0.1 - 10.0.255.254
  s.variables["REMOTE_ADDR"] = "10.0.0.5";
  EXPECT_EQ("10.0.0.5", CBaseNotifications::GetClientIP(&s.record));
  EXPECT_TRUE(Allowed(s));

  // The front end's client address wins over the connection's.
  s.variables["HTTP_X_Remote_Client_IP"] = "192.0.2.1";
  EXPECT_FALSE(Allowed(s));
  // Forwarded-for counts only with setting 85 at 1.
  s.variables["HTTP_X_Remote_Client_IP"] = "";
  s.variables["HTTP_X_Forwarded_For"] = "192.0.2.7";
  EXPECT_EQ("10.0.0.5", CBaseNotifications::GetClientIP(&s.record));

  LoadWithClientIPSource("1");
  EXPECT_EQ("192.0.2.7", CBaseNotifications::GetClientIP(&s.record));
  EXPECT_FALSE(Allowed(s));
  s.variables["HTTP_X_Forwarded_For"] = "10.0.200.1";
  EXPECT_TRUE(Allowed(s));
  // An empty forwarded-for falls back to the connection's address.
  s.variables["HTTP_X_Forwarded_For"] = "";
  s.variables["REMOTE_ADDR"] = "192.0.2.9";
  EXPECT_EQ("192.0.2.9", CBaseNotifications::GetClientIP(&s.record));
  EXPECT_FALSE(Allowed(s));
}

TEST_F(ClientIPTest, SettingsSetWithoutRangesAndMissingRecord) {
  LoadWithClientIPSource("0");
  VariableServer s;
  s.variables["REMOTE_ADDR"] = "10.0.0.5";
  s.record.m_dwSettingsID = 9;  // no such set
  EXPECT_FALSE(Allowed(s));
  bool allowed = true;
  EXPECT_EQ(7u, CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(nullptr, allowed));
  EXPECT_FALSE(allowed);
}

}  // namespace
