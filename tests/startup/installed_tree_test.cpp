// The tree an administrator installs with cmake --install starts as it is,
// and hxhost says why the module did not start, wherever the events go.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/file_text.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct ShellRun {
  int status = -1;
  std::string output;  // standard output and standard error
};

ShellRun Shell(const std::string& command) {
  ShellRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

TEST(InstalledTree, StartsFromCmakeInstallAndHxhostSaysWhyItCannot) {
  CTempDir dir;
  const std::string root = dir.Path() + "tree";
  const ShellRun install =
      Shell(Quoted(HX_CMAKE_COMMAND) + " --install " + Quoted(HX_BINARY_DIR) + " --prefix " + Quoted(root));
  ASSERT_EQ(install.status, 0) << install.output;

  const std::string hxhost = Quoted(std::string(HX_BINARY_DIR) + "/host/hxhost");
  const std::string request = Quoted(std::string(HX_SOURCE_DIR) + "/samples/requests/read_message.txt");
  const std::string events = dir.Path() + "events.txt";
  const std::string env = "cd " + Quoted(dir.Path()) + " && env -u HX_REGISTRY_FILE HX_SYSTEM_DIRECTORY=" +
                          Quoted(dir.Path() + "system") + " ";
  // The report of a request that holds a NUL is printed whole.
  const std::string nul = dir.Path() + "nul.txt";
  std::ofstream(nul) << std::string("GET /owa/?a=\0b HTTP/1.1\n", 24);
  const ShellRun served =
      Shell(env + "HX_EVENTLOG_FILE=" + Quoted(events) + " " + hxhost + " --install " + Quoted(root) +
            " --no-answer " + request + " " + Quoted(nul));
  ASSERT_EQ(served.status, 0) << served.output;
  EXPECT_NE(served.output.find("GetFilterVersion: version 0x60000"), std::string::npos) << served.output;
  EXPECT_NE(served.output.find("refused by the host: 400 Bad Request, a control character"), std::string::npos)
      << served.output;
  // The sample tree holds every file its settings name: the start is clean
  // but for the directory, which these trees lack.
  std::istringstream lines(ReadFile(events));
  for (std::string line; std::getline(lines, line);) {
    if (line.find("Reading OWA configuration failed") != std::string::npos) continue;
    EXPECT_EQ(line.find("\tWARNING\t"), std::string::npos) << line;
    EXPECT_EQ(line.find("\tERROR\t"), std::string::npos) << line;
  }

  // Events to syslog only: hxhost still prints the module's reason.
  const std::string links = root + "/Quenlith/Common Files/Settings/LinkCriteriaSettings.xml";
  fs::remove(links);
  const ShellRun failed = Shell(env + "HX_EVENTLOG_FILE= " + hxhost + " --install " + Quoted(root) + " " + request);
  EXPECT_EQ(failed.status, 1) << failed.output;
  EXPECT_NE(failed.output.find("failed; the module reported:\n  ERROR 0x6000006F: "), std::string::npos)
      << failed.output;
  EXPECT_NE(failed.output.find("Loading Settings failed " + links), std::string::npos) << failed.output;
}

// The settings of an installed tree are the administrator's: another
// install keeps them and puts the shipped copies beside them. With the debug
// log on at every kind, no cookie value of the sample requests reaches a log
// or event file, and nothing the module makes is open to others, whatever
// the umask.
TEST(InstalledTree, AnotherInstallKeepsTheSettingsAndTheLogsHoldNoSecrets) {
  CTempDir dir;
  const std::string root = dir.Path() + "tree";
  const std::string install =
      Quoted(HX_CMAKE_COMMAND) + " --install " + Quoted(HX_BINARY_DIR) + " --prefix " + Quoted(root);
  ASSERT_EQ(Shell(install).status, 0);
  const std::string settings = root + "/Quenlith/Pellora/Settings/HXSettings.xml";
  const std::string ring = "hxtest-" + fs::path(dir.Path()).parent_path().filename().string() + ".log";
  std::string xml = ReadFile(settings);
  const auto set = [&xml](const std::string& id, const std::string& value) {
    const std::string from = "<ITEM ID=\"" + id + "\"";
    const size_t at = xml.find(from);
    const size_t end = xml.find("/>", at);
    xml.replace(at, end - at, from + " DESCR=\"d\" VALUE=\"" + value + "\"");
  };
  set("13", "1024");
  set("43", "2");
  xml.insert(xml.find("</GENERALSETTINGS>"), "<ITEM ID=\"23\" DESCR=\"d\" VALUE=\"" + ring + "\"/>");
  std::ofstream(settings, std::ios::trunc) << xml;
  // A link to a file on a share not yet mounted is the administrator's too.
  const std::string ini = root + "/Quenlith/Pellora/Engine/ini/PelloraConv.ini";
  fs::remove(ini);
  fs::create_symlink(dir.Path() + "share/PelloraConv.ini", ini);
  const ShellRun again = Shell(install);
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(ReadFile(settings), xml);
  EXPECT_TRUE(fs::exists(settings + ".new"));
  EXPECT_NE(again.output.find("Kept: " + settings), std::string::npos) << again.output;
  EXPECT_TRUE(fs::is_symlink(ini));
  fs::remove(ini);
  fs::copy_file(ini + ".new", ini);

  std::string requests;
  std::vector<std::string> cookieValues;
  for (const auto& entry : fs::directory_iterator(std::string(HX_SOURCE_DIR) + "/samples/requests")) {
    requests += " " + Quoted(entry.path().string());
    std::istringstream lines(ReadFile(entry.path().string()));
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("Cookie: ", 0) != 0) continue;
      std::istringstream cookies(line.substr(8));
      for (std::string cookie; std::getline(cookies, cookie, ';');) {
        if (cookie.find('=') != std::string::npos) cookieValues.push_back(cookie.substr(cookie.find('=') + 1));
      }
    }
  }
  ASSERT_FALSE(cookieValues.empty());
  const std::string events = dir.Path() + "events.txt";
  const std::string logs = dir.Path() + "system/LogFiles/QuenlithLogs/";
  for (const auto& [level, kind] : std::vector<std::pair<std::string, std::string>>{{"1", "1"}, {"1", "2"}, {"1", "3"},
                                                                                     {"10", "1"}}) {
    set("14", level);
    set("12", kind);
    std::ofstream(settings, std::ios::trunc) << xml;
    const ShellRun run = Shell("umask 000 && cd " + Quoted(dir.Path()) + " && env -u HX_REGISTRY_FILE HX_SYSTEM_DIRECTORY=" +
                               Quoted(dir.Path() + "system") + " HX_EVENTLOG_FILE=" + Quoted(events) + " " +
                               Quoted(std::string(HX_BINARY_DIR) + "/host/hxhost") + " --install " + Quoted(root) +
                               " --no-answer" + requests);
    ASSERT_EQ(run.status, 0) << run.output;
  }
  std::vector<std::string> written = {events, logs + ring, "/dev/shm/" + ring};
  std::string all;
  for (const std::string& file : written) {
    ASSERT_TRUE(fs::exists(file)) << file;
    all += ReadFile(file);
  }
  EXPECT_NE(all.find("Cookie <sessionid=(36 bytes); UserContext=(32 bytes)"), std::string::npos);
  for (const std::string& value : cookieValues) EXPECT_EQ(all.find(value), std::string::npos) << value;
  written.push_back(logs);
  written.push_back(root + "/Quenlith/Pellora/Temp");
  for (const std::string& file : written) {
    EXPECT_EQ(fs::perms::none, fs::status(file).permissions() & fs::perms::others_all) << file;
  }
  fs::remove("/dev/shm/" + ring);
}

}  // namespace
