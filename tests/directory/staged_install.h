// The staged install tree copied for one directory test, and the module
// started from it in a child process that uses the test directory: a module
// reads its directory and settings once per process.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "support/file_text.h"
#include "test_directory.h"

// Copies the staged tree to <dir>install/ and gives that root. With
// debugLog, the module's debug log (level 3, a plain file) goes to
// <dir>logs/QuenlithLogs/QLCommonLog.log.
inline std::string StageInstallCopy(const std::string& dir, bool debugLog) {
  namespace fs = std::filesystem;
  const std::string root = dir + "install/";
  fs::copy(std::string(HX_BINARY_DIR) + "/stage", root, fs::copy_options::recursive);
  if (!debugLog) return root;
  const std::string settings = root + "Quenlith/Pellora/Settings/HXSettings.xml";
  std::string xml = ReadFile(settings);
  xml.insert(xml.find("</GENERALSETTINGS>"),
             "<ITEM ID=\"12\" DESCR=\"d\" VALUE=\"3\"/><ITEM ID=\"14\" DESCR=\"d\" "
             "VALUE=\"1\"/><ITEM ID=\"39\" DESCR=\"d\" VALUE=\"" +
                 dir + "logs\"/>");
  std::ofstream(settings, std::ios::binary | std::ios::trunc) << xml;
  fs::create_directories(dir + "logs/QuenlithLogs");
  return root;
}

// Starts the module of root in a child process against the directory, with
// its system folder and event file (events.txt) in dir, and runs body there.
// The child ends with _exit, so body closes what it writes for the test to
// read back, and may _exit with a code of its own on a failure. True when
// the module started and body returned.
inline bool RunStagedModuleInChild(const CTestDirectory& directory, const std::string& dir, const std::string& root,
                                   const std::function<void(HxHost&)>& body) {
  const pid_t child = fork();
  if (child == 0) {
    setenv("LDAPURI", directory.Uri().c_str(), 1);
    setenv("HX_SYSTEM_DIRECTORY", (dir + "system").c_str(), 1);
    setenv("HX_EVENTLOG_FILE", (dir + "events.txt").c_str(), 1);
    unsetenv("HX_REGISTRY_FILE");
    HxHost host;
    std::string error;
    if (!host.Start(HxModulePathInInstall(root), error)) _exit(90);
    body(host);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
