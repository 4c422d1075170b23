#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "support/temp_dir.h"
#include "support/file_text.h"

namespace fs = std::filesystem;

namespace {

bool Mapped(const char* fileName) {
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);) {
    if (line.find(fileName) != std::string::npos) return true;
  }
  return false;
}

// A copy of the staged install tree; each start-up runs in a child process
// of its own, since the settings object lives as long as the process.
class StartUp : public ::testing::Test {
 protected:
  void SetUp() override {
    root = dir.Path() + "install/";
    fs::copy(std::string(HX_BINARY_DIR) + "/stage", root, fs::copy_options::recursive);
    settingsFile = root + "Quenlith/Pellora/Settings/HXSettings.xml";
    // The sample names a conversion options file it does not ship, which is
    // reported at every start; these trees have one, so that their events
    // are those of the case at hand.
    fs::create_directories(root + "Quenlith/Pellora/Engine/ini");
    std::ofstream(root + "Quenlith/Pellora/Engine/ini/PelloraConv.ini") << "[KVHTMLOptionsEx]\n";
  }

  // Adds general setting items to the module settings file, each in place
  // of the sample's item of its ID (a second item of one ID is reported).
  void AddSettings(const std::string& items) {
    std::string xml = ReadFile(settingsFile);
    for (size_t item = items.find("<ITEM ID=\""); item != std::string::npos; item = items.find("<ITEM ID=\"", item + 1)) {
      const std::string id = items.substr(item, items.find('"', item + 10) + 1 - item);
      const size_t old = xml.find(id);
      if (old != std::string::npos && old < xml.find("</GENERALSETTINGS>")) xml.erase(old, xml.find("/>", old) + 2 - old);
    }
    const size_t at = xml.find("</GENERALSETTINGS>");
    ASSERT_NE(at, std::string::npos);
    xml.insert(at, items);
    std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
  }

  // Runs body in a child with the module loaded from modulePath; returns
  // the child's exit code (0 when body returned true).
  int RunChild(const std::function<bool(HxModule&)>& body, std::string modulePath = "") {
    if (modulePath.empty()) modulePath = HxModulePathInInstall(root);
    return RunInChild([&] {
      HxModule module;
      std::string error;
      if (!module.Load(modulePath, error)) _exit(90);
      return body(module);
    });
  }

  // Runs body in a child process with this tree's environment.
  int RunInChild(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) {
      setenv("HX_EVENTLOG_FILE", (dir.Path() + "events.txt").c_str(), 1);
      unsetenv("HX_REGISTRY_FILE");
      setenv("HX_SYSTEM_DIRECTORY", (dir.Path() + "system").c_str(), 1);
      if (chdir(dir.Path().c_str()) != 0) _exit(91);
      _exit(body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
  }

  // Rewrites the module settings file with `from` replaced by `to`, dated
  // later than before so that a running module sees the change.
  void ChangeSettings(const std::string& from, const std::string& to) {
    std::string xml = ReadFile(settingsFile);
    const size_t at = xml.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    xml.replace(at, from.size(), to);
    const auto before = fs::last_write_time(settingsFile);
    std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
    fs::last_write_time(settingsFile, before + std::chrono::seconds(2));
  }

  static bool StartsUp(HxModule& module) {
    HTTP_FILTER_VERSION v{};
    return module.GetFilterVersion(&v) == TRUE;
  }
  static bool FailsAndFillsNothing(HxModule& module) {
    HTTP_FILTER_VERSION v{};
    return module.GetFilterVersion(&v) == FALSE && v.dwFilterVersion == 0 && v.dwFlags == 0 &&
           v.lpszFilterDesc[0] == '\0';
  }

  std::vector<std::string> Events() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(dir.Path() + "events.txt"));
    for (std::string line; std::getline(in, line);) {
      // These trees have no directory; its failed read, reported at every
      // start-up, is tested with a directory of its own.
      if (line.find("Reading OWA configuration failed") != std::string::npos) continue;
      lines.push_back(line);
    }
    return lines;
  }

  CTempDir dir;
  std::string root;
  std::string settingsFile;
};

constexpr const char kError[] = "Quenlith Pellora\tERROR\t0x6000006F\t0\t";
constexpr const char kReport[] = "Quenlith Pellora\tERROR\t0x60000074\t0\t";
// Every report carries its text: the start-up events theirs as their string.
constexpr const char kFailed[] =
    "Quenlith Pellora\tERROR\t0x6000007E\t0\tQuenlith Pellora failed to start and serves no requests; the error "
    "reported before this one says why.";
constexpr const char kSucceeded[] = "Quenlith Pellora\tINFORMATION\t0x60000065\t0\tQuenlith Pellora started and serves requests.";

TEST_F(StartUp, SucceedsOnTheSampleTreeAndShutsDown) {
  // Log to a plain file to see the probes.
  fs::create_directories(dir.Path() + "logs/QuenlithLogs");
  AddSettings("<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"3\"/><ITEM ID=\"14\" DESCR=\"d\" VALUE=\"1\"/>"
              "<ITEM ID=\"39\" DESCR=\"d\" VALUE=\"" + dir.Path() + "logs\"/>");
  EXPECT_EQ(RunChild([](HxModule& m) {
              if (!StartsUp(m) || !Mapped("QL_RSALoad64.so")) return false;
              // A second start-up while running succeeds without reporting.
              if (!StartsUp(m)) return false;
              // Shutdown reports the closed event source and lets the cookie
              // loader go; a later start-up runs the whole sequence again.
              if (m.TerminateFilter() != 1 || Mapped("QL_RSALoad64.so")) return false;
              if (m.TerminateFilter() != 0) return false;
              return StartsUp(m) && Mapped("QL_RSALoad64.so");
            }),
            0);
  EXPECT_EQ(Events(), (std::vector<std::string>{kSucceeded, kSucceeded}));
  EXPECT_TRUE(fs::is_directory(root + "Quenlith/Pellora/Temp"));
  const std::string log = ReadFile(dir.Path() + "logs/QuenlithLogs/QLCommonLog.log");
  EXPECT_NE(log.find("Exchange NewestBuild 10440, Version 14.3.123.4"), std::string::npos) << log;
  EXPECT_NE(log.find("GetRegistryInfo SSLOffloaded 0"), std::string::npos);
  EXPECT_NE(log.find("RSA loaded"), std::string::npos);
  EXPECT_NE(log.find("PL_Hexmoor.dll FileVer: 6.0.0.0, Product Ver: 6.0.0.0"), std::string::npos);
  EXPECT_NE(log.find("[CPLGeneralSettings::Init] returned bRet <TRUE>"), std::string::npos);
  EXPECT_NE(log.find("[CPLHXGeneralSettings::Init] returned bRet <TRUE>."), std::string::npos);
}

// The file is named, with the reason in words, once; a link that leads to
// itself is no missing file.
TEST_F(StartUp, MissingSettingsFileFails) {
  fs::remove(settingsFile);
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + ("Loading Settings failed " + settingsFile +
                                                          ": The system cannot find the file specified (0x80070002)"),
                                                kFailed}));
  fs::remove(dir.Path() + "events.txt");
  fs::create_symlink(settingsFile, settingsFile);
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + ("Loading Settings failed " + settingsFile +
                                                          ": The name of the file cannot be resolved by the system "
                                                          "(0x80070781)"),
                                                kFailed}));
}

// The link-criteria file lies in another folder: when it cannot be read, the
// report names it, not the module's settings folder.
TEST_F(StartUp, MissingLinkCriteriaFileIsNamed) {
  const std::string links = root + "Quenlith/Common Files/Settings/LinkCriteriaSettings.xml";
  fs::remove(links);
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], kError + ("Loading Settings failed " + links +
                                 ": The system cannot find the file specified (0x80070002)"));
  EXPECT_EQ(events[1], kFailed);
}

// Besides the report that names the folder, one names the file and what the
// parser found wrong, and where.
TEST_F(StartUp, BrokenSettingsFileFails) {
  std::ofstream(settingsFile, std::ios::trunc) << "<SETTINGS>\n<GENERALSETTINGS>";
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].rfind(kReport + ("The settings file " + settingsFile + " cannot be read: "), 0), 0u) << events[0];
  EXPECT_NE(events[0].find(" at line 2, position "), std::string::npos) << events[0];
  EXPECT_NE(events[0].find("; it was not loaded."), std::string::npos) << events[0];
  EXPECT_EQ(events[1].rfind(kError + ("Loading Settings failed " + settingsFile + ": "), 0), 0u) << events[1];
  EXPECT_EQ(events[2], kFailed);
}

// Through the module in the host: a block level that is no plain number
// refuses downloads as an out-of-range one does, with the same event; a
// criteria that falls back to the general level is warned about, naming the
// criteria and the level, once per load however many downloads ask.
TEST_F(StartUp, BlockLevelsThatAreNoNumberRefuseAndFallbacksAreNamed) {
  std::string xml = ReadFile(settingsFile);
  using Edit = std::pair<std::string, std::string>;
  for (const auto& [from, to] : {Edit{"block level\" VALUE=\"1\"", "block level\" VALUE=\"0\""},
                                 Edit{"block level\" VALUE=\"2\"", "block level\" VALUE=\"\""}}) {
    const size_t at = xml.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    xml.replace(at, from.size(), to);
  }
  std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
  const std::string modulePath = HxModulePathInInstall(root);
  EXPECT_EQ(RunChild([&](HxModule&) {
              HxHost host;
              std::string error;
              if (!host.Start(modulePath, error)) return false;
              bool allRefused = true;
              for (int round = 0; round < 2; ++round) {
                // Set 1 (level ""), set 3 (no level: the general 0), criteria
                // 9 (no link: the general 0); outside every range.
                for (int criteria : {1, 3, 9}) {
                  HxRequest request;
                  const std::string description =
                      "@user-account aclerk\n@user-domain EXAMPLE\n@criteria " + std::to_string(criteria) +
                      "\n@client-address 192.0.2.7\nGET /owa/attachment.ashx?attach=1&id=R&attcnt=1&attid0=A0 "
                      "HTTP/1.1\nUser-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n";
                  if (!ParseRequestDescription(description, "", request, error)) return false;
                  const HxOutcome out = host.Run(request);
                  allRefused = allRefused && out.answer.rfind("HTTP/1.0 401 OK\r\n", 0) == 0;
                }
              }
              return allRefused;
            }, modulePath),
            0);
  const std::vector<std::string> events = Events();
  const std::vector<std::string> expected = {
      kSucceeded,
      kError + std::string("Direct file access block level <> of settings <1> is invalid; direct downloads of "
                           "attachments and documents are refused until it is 0, 1 or 2."),
      "Quenlith Pellora\tWARNING\t0x6000006F\t0\tDirect file access block level of settings <3> (criteria <3>) "
      "cannot be read: the criteria has no link, the link names no settings set, or the set has no item 43; the "
      "general level <0> applies.",
      "Quenlith Pellora\tWARNING\t0x6000006F\t0\tDirect file access block level of settings <0> (criteria <9>) "
      "cannot be read: the criteria has no link, the link names no settings set, or the set has no item 43; the "
      "general level <0> applies."};
  EXPECT_EQ(events, expected);
}

// A rendering option never takes download control down: a conversion options
// file with a count above the maximum is reported and the module serves.
TEST_F(StartUp, AConversionOptionsFileWithACountTooHighIsReportedAndTheModuleServes) {
  const std::string ini = root + "Quenlith/Pellora/Engine/ini/PelloraConv.ini";
  std::ofstream(ini, std::ios::trunc) << "[KVStyle]\nNumStyles=1001\n";
  EXPECT_EQ(RunChild(StartsUp), 0);
  const std::vector<std::string> expected = {
      "Quenlith Pellora\tWARNING\t0x60000074\t0\tThe conversion options file " + ini +
          " gives [KVStyle] NumStyles=1001, above the maximum of 1000; it is read as 0, so none of them is read.",
      kSucceeded};
  EXPECT_EQ(Events(), expected);
}

TEST_F(StartUp, TemporaryDirectoryThatCannotBeMadeFails) {
  std::ofstream(dir.Path() + "afile") << "x";
  AddSettings("<ITEM ID=\"17\" DESCR=\"d\" VALUE=\"" + dir.Path() + "afile/Temp\"/>");
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + ("Can not create Temp Directory " + dir.Path() +
                                                          "afile/Temp: " + dir.Path() + "afile is not a folder; "
                                                          "make it, owned by the server's user and "
                                                          "closed to others, or name another in setting 17"),
                                                kFailed}));

  // A file where the folder should be is no folder the module can use.
  fs::remove(dir.Path() + "events.txt");
  std::string xml = ReadFile(settingsFile);
  xml.replace(xml.find("afile/Temp"), 10, "afile");
  std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + ("Can not create Temp Directory " + dir.Path() +
                                                          "afile: a file that is not a folder has this name; remove "
                                                          "it, or name another folder in setting 17"),
                                                kFailed}));
}

// A Temp folder an older version left open to every user (0777) is kept
// as it is, and reported.
TEST_F(StartUp, TemporaryDirectoryOpenToOthersIsReported) {
  const std::string temp = root + "Quenlith/Pellora/Temp";
  fs::create_directories(temp);
  fs::permissions(temp, fs::perms(0777));
  EXPECT_EQ(RunChild(StartsUp), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{"Quenlith Pellora\tWARNING\t0x6000006F\t0\tThe temporary directory " +
                                                    temp + " (setting 17) is open to every user of the machine; close "
                                                           "it to others (chmod o-rwx), or name a folder of the "
                                                           "server's own.",
                                                kSucceeded}));
}

// A fresh install has no log folder: start-up makes it, closed to others,
// and the log file in it is too; a folder that cannot be made is reported
// once and start-up goes on.
TEST_F(StartUp, MissingLogFolderIsMadeOrReportedOnce) {
  AddSettings("<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"3\"/><ITEM ID=\"14\" DESCR=\"d\" VALUE=\"1\"/>"
              "<ITEM ID=\"39\" DESCR=\"d\" VALUE=\"" + dir.Path() + "fresh/logs\"/>");
  EXPECT_EQ(RunChild(StartsUp), 0);
  const std::string folder = dir.Path() + "fresh/logs/QuenlithLogs";
  ASSERT_TRUE(fs::is_directory(folder));
  using fs::perms;
  const perms others = perms::others_read | perms::others_write | perms::others_exec;
  EXPECT_EQ(fs::status(folder).permissions() & others, perms::none);
  EXPECT_EQ(fs::status(folder + "/QLCommonLog.log").permissions() & others, perms::none);
  EXPECT_EQ(Events(), (std::vector<std::string>{kSucceeded}));

  fs::remove(dir.Path() + "events.txt");
  std::ofstream(dir.Path() + "afile") << "x";
  std::string xml = ReadFile(settingsFile);
  xml.replace(xml.find(dir.Path() + "fresh/logs"), (dir.Path() + "fresh/logs").size(), dir.Path() + "afile");
  std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
  EXPECT_EQ(RunChild(StartsUp), 0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind("Quenlith Pellora\tWARNING\t0x6000006F\t0\tCan not create the debug log folder " +
                                dir.Path() + "afile/QuenlithLogs: " + dir.Path() +
                                "afile is not a folder; the debug log writes no file until the folder exists",
                            0),
            0u)
      << events[0];
  // The append-only kind has no ring to keep its records meanwhile.
  EXPECT_EQ(events[0].find("ring"), std::string::npos) << events[0];
  EXPECT_EQ(events[1], kSucceeded);

  // Folders typed as on Windows are names in the server's working folder:
  // made there, and said where.
  fs::remove(dir.Path() + "events.txt");
  ChangeSettings(dir.Path() + "afile\"", "D:\\Logs\"/><ITEM ID=\"17\" DESCR=\"d\" VALUE=\"C:\\Temp\"");
  EXPECT_EQ(RunChild(StartsUp), 0);
  // (The event file doubles each backslash.)
  const std::string warning = "Quenlith Pellora\tWARNING\t0x6000006F\t0\t";
  EXPECT_EQ(Events(), (std::vector<std::string>{warning + "The temporary directory C:\\\\Temp (setting 17) is not a full "
                                                    "path: it is taken from the server's working folder, as " +
                                                    dir.Path() + "C:\\\\Temp; name a full path, starting with /.",
                                                warning + "The debug log's folder D:\\\\Logs (setting 39) is not a "
                                                    "full path: it is taken from the server's working folder, as " +
                                                    dir.Path() + "D:\\\\Logs; name a full path, starting with /.",
                                                kSucceeded}));
  EXPECT_TRUE(fs::is_directory(dir.Path() + "D:\\Logs/QuenlithLogs"));
  // A module the host loaded by a relative name has its default there too,
  // which no setting names.
  fs::remove(dir.Path() + "events.txt");
  ChangeSettings("<ITEM ID=\"17\" DESCR=\"d\" VALUE=\"C:\\Temp\"/>", "");
  EXPECT_EQ(RunChild(StartsUp, "install/Quenlith/Pellora/bin/PL_Hexmoor.so"), 0);
  const std::vector<std::string> relative = Events();
  ASSERT_EQ(relative.size(), 2u);
  EXPECT_NE(relative[0].find("(setting 39) is not a full path"), std::string::npos) << relative[0];
}

// The debug log's settings take effect only at start-up, and not always as an
// administrator expects: each surprise is reported once.
TEST_F(StartUp, DebugLogSetUpIsReported) {
  const std::string warning = "Quenlith Pellora\tWARNING\t0x6000006F\t0\t";
  // The default kind writes into a ring named after the log file, which every
  // install on the machine shares; a name of this test's own keeps it apart.
  const std::string name = "hxtest-" + std::to_string(getpid()) + ".log";
  AddSettings("<ITEM ID=\"23\" DESCR=\"d\" VALUE=\"" + name + "\"/>");
  ChangeSettings("ID=\"14\" DESCR=\"Debug log level\" VALUE=\"0\"", "ID=\"14\" DESCR=\"Debug log level\" VALUE=\"1\"");
  EXPECT_EQ(RunChild(StartsUp), 0);
  shm_unlink(("/" + name).c_str());
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind("Quenlith Pellora\tINFORMATION\t0x60000074\t0\tThe debug log writes its records into "
                            "the shared-memory ring /dev/shm/" + name + " (setting 12 is 1), not into " + dir.Path() +
                                "system/LogFiles/QuenlithLogs/" + name,
                            0),
            0u)
      << events[0];
  EXPECT_EQ(events[1], kSucceeded);

  // Without the log module nothing is written at all.
  fs::remove(dir.Path() + "events.txt");
  fs::remove(root + "Quenlith/Common Files/bin/LogModule.so");
  EXPECT_EQ(RunChild(StartsUp), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          warning + "The debug log is switched on (setting 14 of " + settingsFile +
                              " is 1) but writes nothing: the log module " + root +
                              "Quenlith/Common Files/bin/LogModule.so is not installed (nor found on the library "
                              "path).",
                          kSucceeded}));

  // A level that is none leaves the log off.
  fs::remove(dir.Path() + "events.txt");
  ChangeSettings("ID=\"14\" DESCR=\"Debug log level\" VALUE=\"1\"", "ID=\"14\" DESCR=\"Debug log level\" VALUE=\"2\"");
  EXPECT_EQ(RunChild(StartsUp), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{warning + "Setting 14 of " + settingsFile +
                                                    " is 2, which is no debug-log level (0 off, 1 on, 10 to the "
                                                    "event log); the debug log stays off.",
                                                kSucceeded}));
}

// A log folder another user made first in a folder open to all (setting 39
// naming /tmp), or a link under the ring's name in /dev/shm, keeps the log
// from writing: start-up names it (with the folder's owner), nothing goes
// through it, and no event says the records go to the ring.
TEST_F(StartUp, ALogFolderOrRingAnotherUserControlsIsNamedAtStartUp) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
  const std::string warning = "Quenlith Pellora\tWARNING\t0x6000006F\t0\t";
  const std::string pub = dir.Path() + "pub";
  const std::string theirs = pub + "/QuenlithLogs";
  fs::create_directories(theirs);
  fs::permissions(pub, fs::perms(01777));
  ASSERT_EQ(0, chown(theirs.c_str(), 54321, 54321));
  AddSettings("<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"3\"/><ITEM ID=\"14\" DESCR=\"d\" VALUE=\"1\"/>"
              "<ITEM ID=\"39\" DESCR=\"d\" VALUE=\"" + pub + "\"/>");
  EXPECT_EQ(RunChild(StartsUp), 0);
  std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], warning + "The debug log is switched on (setting 14 of " + settingsFile +
                           " is 1) but writes nothing: its folder is not used, as " + theirs +
                           " belongs to user 54321, not to the server's user or root; name a folder of the "
                           "server's own (setting 39).");
  EXPECT_TRUE(fs::is_empty(theirs));

  fs::remove(dir.Path() + "events.txt");
  const std::string name = "hxtest-" + std::to_string(getpid()) + ".log";
  ChangeSettings("<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"3\"/>", "<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"1\"/>"
                 "<ITEM ID=\"23\" DESCR=\"d\" VALUE=\"" + name + "\"/>");
  ChangeSettings(pub, dir.Path() + "logs");
  ASSERT_EQ(0, symlink((dir.Path() + "elsewhere").c_str(), ("/dev/shm/" + name).c_str()));
  EXPECT_EQ(RunChild(StartsUp), 0);
  unlink(("/dev/shm/" + name).c_str());
  events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], warning + "The debug log is switched on (setting 14 of " + settingsFile +
                           " is 1) but writes nothing: the shared-memory ring /dev/shm/" + name +
                           " is there already and is not used, as it is a symbolic link, which is not followed; "
                           "remove it, or give this install a log file name of its own (setting 23).");
  EXPECT_EQ(events[1], kSucceeded);

  // The temporary directory is judged by the same rule.
  fs::remove(dir.Path() + "events.txt");
  fs::permissions(theirs, fs::perms(0700));
  ChangeSettings("ID=\"14\" DESCR=\"d\" VALUE=\"1\"", "ID=\"14\" DESCR=\"d\" VALUE=\"0\"");
  AddSettings("<ITEM ID=\"17\" DESCR=\"d\" VALUE=\"" + theirs + "\"/>");
  EXPECT_EQ(RunChild(StartsUp), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{warning + "The temporary directory " + theirs +
                                                    " (setting 17) is not the server's own: " + theirs +
                                                    " belongs to user 54321, not to the server's user or root; "
                                                    "the module runs without it, nothing is made or put there; "
                                                    "name a folder of the server's own.",
                                                kSucceeded}));

  // Nor is it made through a link they put on the way.
  fs::remove(dir.Path() + "events.txt");
  const std::string elsewhere = dir.Path() + "elsewhere";
  fs::create_directories(elsewhere);
  ASSERT_EQ(0, symlink(elsewhere.c_str(), (pub + "/link").c_str()));
  ASSERT_EQ(0, lchown((pub + "/link").c_str(), 54321, 54321));
  ChangeSettings(theirs + "\"/>", pub + "/link/Temp\"/>");
  EXPECT_EQ(RunChild(StartsUp), 0);
  EXPECT_EQ(Events(), (std::vector<std::string>{warning + "The temporary directory " + pub +
                                                    "/link/Temp (setting 17) is not the server's own: " + pub +
                                                    "/link is a link of user 54321 in " + pub +
                                                    ", which other users may write to; the module runs without "
                                                    "it, nothing is made or put there; name a folder of the "
                                                    "server's own.",
                                                kSucceeded}));
  EXPECT_FALSE(fs::exists(elsewhere + "/Temp"));
}

// Another user made the log module's lock object first, or filled /dev/shm:
// the log is off, start-up says why, naming the object (and its owner).
TEST_F(StartUp, ALockObjectAnotherUserMadeFirstIsNamedWithItsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /dev/shm";
  AddSettings("<ITEM ID=\"14\" DESCR=\"d\" VALUE=\"1\"/>");
  const struct {
    bool fill;
    const char* said;
  } cases[] = {
      {false, "is there already and is not used, as it belongs to user 54321, a user outside this process's group; "
              "remove it with every process of the product family stopped."},
      {true, "could not be made, as /dev/shm has no room left."},
  };
  for (const auto& c : cases) {
    fs::remove(dir.Path() + "events.txt");
    EXPECT_EQ(RunChild([&c](HxModule& m) {
                // A /dev/shm of this child's own: the lock's name is the machine's.
                if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                    mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=64k,mode=1777") != 0) {
                  return false;
                }
                if (c.fill) {
                  std::ofstream("/dev/shm/fill") << std::string(1 << 20, 'f');
                  return StartsUp(m);
                }
                const int fd = open("/dev/shm/QLLogModule.General", O_CREAT | O_EXCL | O_RDWR, 0660);
                if (fd < 0 || fchown(fd, 54321, 54321) != 0) return false;
                close(fd);
                return StartsUp(m);
              }),
              0);
    const std::vector<std::string> events = Events();
    ASSERT_FALSE(events.empty());
    EXPECT_NE(events[0].find(std::string(" handed out no lock: its lock /dev/shm/QLLogModule.General ") + c.said),
              std::string::npos)
        << events[0];
  }
}

// A reload does not set the debug log up again: a change waits for the next
// start-up and says so, once per change, not once per reload.
TEST_F(StartUp, DebugLogSettingsChangedByAReloadAreReportedOnce) {
  ChangeSettings("ID=\"81\" DESCR=\"Reload interval (minutes)\" VALUE=\"15\"",
                 "ID=\"81\" DESCR=\"Reload interval (minutes)\" VALUE=\"0\"");
  const std::string name = "hxtest-" + std::to_string(getpid()) + ".log";
  AddSettings("<ITEM ID=\"23\" DESCR=\"d\" VALUE=\"" + name + "\"/>");
  const std::string module = HxModulePathInInstall(root);
  EXPECT_EQ(RunInChild([&] {
              HxHost host;
              std::string error;
              HxRequest request;
              if (!host.Start(module, error) ||
                  !LoadRequestDescription(std::string(HX_SOURCE_DIR) + "/samples/requests/read_message.txt", request,
                                          error)) {
                return false;
              }
              const auto serve = [&] { return host.Run(request).ok; };
              ChangeSettings("ID=\"14\" DESCR=\"Debug log level\" VALUE=\"0\"",
                             "ID=\"14\" DESCR=\"Debug log level\" VALUE=\"1\"");
              if (!serve() || !serve()) return false;
              // Another change of the same file with the log as it was: quiet.
              ChangeSettings("DESCR=\"Allow rich view\" VALUE=\"1\"", "DESCR=\"Allow rich view\" VALUE=\"0\"");
              if (!serve()) return false;
              ChangeSettings("ID=\"12\" DESCR=\"Debug log kind\" VALUE=\"1\"", "ID=\"12\" DESCR=\"Debug log kind\" VALUE=\"2\"");
              return serve();
            }),
            0);
  // The log stayed off: neither a ring nor a file was made.
  EXPECT_FALSE(fs::exists("/dev/shm/" + name));
  EXPECT_FALSE(fs::exists(dir.Path() + "system/LogFiles/QuenlithLogs/" + name));
  const std::string changed = "Quenlith Pellora\tWARNING\t0x6000006F\t0\tThe debug-log settings of " + settingsFile +
                              " changed (";
  const std::string waits =
      "); they take effect only when the module starts again, and until then the debug log goes on as it started.";
  EXPECT_EQ(Events(), (std::vector<std::string>{kSucceeded, changed + "setting 14 from 0 to 1" + waits,
                                                changed + "setting 12 from 1 to 2, setting 14 from 0 to 1" + waits}));
}

// Reloads run on request threads: many threads that find the same change
// report it once. The threads run in a process of their own, started afresh
// (a forked copy of a process with threads may not start any under the
// thread checker): this test program again, running only the test below it.
constexpr const char kConcurrentTreeVariable[] = "HX_TEST_CONCURRENT_TREE";

class StartUpConcurrent : public StartUp {};

TEST_F(StartUpConcurrent, DebugLogChangeFoundByManyRequestsIsReportedOnce) {
  ChangeSettings("ID=\"81\" DESCR=\"Reload interval (minutes)\" VALUE=\"15\"",
                 "ID=\"81\" DESCR=\"Reload interval (minutes)\" VALUE=\"0\"");
  EXPECT_EQ(RunInChild([&] {
              setenv(kConcurrentTreeVariable, root.c_str(), 1);
              execl("/proc/self/exe", "test_startup", "--gtest_filter=StartUpConcurrentRequests.*", nullptr);
              return false;
            }),
            0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_NE(events[1].find("changed (setting 14 from 0 to 1)"), std::string::npos) << events[1];
}

// The process of the test above; skipped when run on its own.
TEST(StartUpConcurrentRequests, ServeWhileTheSettingsChange) {
  const char* tree = std::getenv(kConcurrentTreeVariable);
  if (tree == nullptr) GTEST_SKIP() << "runs only inside StartUpConcurrent";
  const std::string root = tree;
  const std::string settingsFile = root + "Quenlith/Pellora/Settings/HXSettings.xml";
  HxHost host;
  std::string error;
  HxRequest request;
  ASSERT_TRUE(host.Start(HxModulePathInInstall(root), error)) << error;
  ASSERT_TRUE(LoadRequestDescription(std::string(HX_SOURCE_DIR) + "/samples/requests/read_message.txt", request,
                                     error))
      << error;
  std::string xml = ReadFile(settingsFile);
  const std::string from = "ID=\"14\" DESCR=\"Debug log level\" VALUE=\"0\"";
  ASSERT_NE(xml.find(from), std::string::npos);
  xml.replace(xml.find(from), from.size(), "ID=\"14\" DESCR=\"Debug log level\" VALUE=\"1\"");
  const auto before = fs::last_write_time(settingsFile);
  std::ofstream(settingsFile, std::ios::binary | std::ios::trunc) << xml;
  fs::last_write_time(settingsFile, before + std::chrono::seconds(2));
  std::atomic<int> failed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10; ++i) {
        if (!host.Run(request).ok) ++failed;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
}

TEST_F(StartUp, ModulePathNotFoundFails) {
  const std::string other = root + "Quenlith/Pellora/bin/PL_Other.so";
  fs::rename(HxModulePathInInstall(root), other);
  EXPECT_EQ(RunChild(FailsAndFillsNothing, other), 0);
  const std::string text = "Can not get module path PL_Hexmoor.dll: the module file must be PL_Hexmoor.so in the "
                           "Quenlith/Pellora/bin/ folder of an install tree, its path under 260 characters";
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + text, kError + text, kFailed}));
  // No default temporary directory is made in the working directory.
  EXPECT_FALSE(fs::exists(dir.Path() + "Temp"));
}

TEST_F(StartUp, MissingResourceLibraryFails) {
  const std::string library = root + "Quenlith/Pellora/Resource/PelrRes64.dll";
  fs::remove(library);
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[0], "Quenlith Pellora\tERROR\t0x60000074\t0\t Resource Class LoadModule failed  " + library +
                           " error 2   The system cannot find the file specified.");
  EXPECT_EQ(events[1], kError + ("Load resource file failed " + library));
  EXPECT_EQ(events[2], kError + ("Load resource file failed " + library));
  EXPECT_EQ(events[3], kFailed);
}

// A module file beyond 260 characters is not found at all, so the settings
// directory (always shorter than the module file's path) never gets too long.
TEST_F(StartUp, OverlongModulePathFails) {
  std::string deep = dir.Path() + std::string(120, 'd') + "/" + std::string(120, 'e') + "/";
  fs::create_directories(deep);
  fs::rename(root, deep + "install");
  root = deep + "install/";
  EXPECT_EQ(RunChild(FailsAndFillsNothing), 0);
  const std::string text = "Can not get module path PL_Hexmoor.dll: the module file must be PL_Hexmoor.so in the "
                           "Quenlith/Pellora/bin/ folder of an install tree, its path under 260 characters";
  EXPECT_EQ(Events(), (std::vector<std::string>{kError + text, kError + text, kFailed}));
}

// Without the registry file every key reads as absent, which changes what
// the module decides: start-up says so. The cookie loader does not matter.
TEST_F(StartUp, MissingRegistryIsReportedAndCookieLoaderDoesNotMatter) {
  fs::remove(root + "registry.reg");
  fs::remove(root + "Quenlith/Pellora/bin/QL_RSALoad64.so");
  fs::remove(root + "Quenlith/Common Files/bin/LogModule.so");
  EXPECT_EQ(RunChild(StartsUp), 0);
  const std::vector<std::string> events = Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].rfind("Quenlith Pellora\tWARNING\t0x60000074\t0\tThe registry file " + root +
                                "registry.reg is missing; every registry key reads as absent",
                            0),
            0u)
      << events[0];
  EXPECT_EQ(events[1], kSucceeded);
}

}  // namespace
