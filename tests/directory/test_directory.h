// A private directory server for the tests: slapd on a free loopback port,
// with a scratch configuration, our schema and the test data (this
// computer's name put in). slapd logs every connection and operation
// (stats), so that tests can count the searches that reached it. Started by the first test that asks for it and
// stopped at the end of the test program; slapd also goes when the test
// program dies.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

class CTestDirectory {
 public:
  static constexpr const char* kSlapd = "/usr/sbin/slapd";
  static constexpr const char* kSlapadd = "/usr/sbin/slapadd";
  static constexpr const char* kBase = "dc=hexmoor,dc=test";

  // Starts slapd with the data for `host` and `moreEntries` (LDIF), each
  // text of the data `edits` names replaced; empty error text on success.
  // With a certificate and its key (PEM files), it also listens for ldaps://
  // (SecurePort) and answers StartTLS.
  std::string Start(const std::string& host, const std::string& moreEntries = "",
                    const std::vector<std::pair<std::string, std::string>>& edits = {},
                    const std::string& certificate = "", const std::string& key = "") {
    const std::string data = std::string(HX_SOURCE_DIR) + "/tests/directory/data/";
    std::string config = Config(data);
    if (!certificate.empty()) {
      config = "TLSCertificateFile " + certificate + "\nTLSCertificateKeyFile " + key + "\n" + config;
    }
    const std::string conf = m_dir.Write("slapd.conf", config);
    m_dir.Write("rootdse.ldif",
                "dn:\nconfigurationNamingContext: CN=Configuration,DC=hexmoor,DC=test\n"
                "defaultNamingContext: DC=hexmoor,DC=test\nrootDomainNamingContext: DC=hexmoor,DC=test\n");
    std::string ldif = ReadAll(data + "directory.ldif");
    for (size_t at; (at = ldif.find("@HOST@")) != std::string::npos;) ldif.replace(at, 6, host);
    for (const auto& [from, to] : edits) {
      for (size_t at; (at = ldif.find(from)) != std::string::npos;) ldif.replace(at, from.size(), to);
    }
    ldif += "\n" + moreEntries;
    const std::string ldifPath = m_dir.Write("directory.ldif", ldif);
    std::filesystem::create_directories(m_dir.Path() + "db");
    if (Run({kSlapadd, "-q", "-f", conf, "-l", ldifPath}) != 0) return "slapadd failed: " + Log();
    // A port found free may be taken before slapd binds it: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      m_port = FreePort();
      m_uri = "ldap://127.0.0.1:" + std::to_string(m_port) + "/";
      m_securePort = certificate.empty() ? 0 : FreePort();
      const std::string listen =
          m_uri + (certificate.empty() ? "" : " ldaps://127.0.0.1:" + std::to_string(m_securePort) + "/") +
          (m_boundOnly ? " " + LocalUri() : "");
      m_pid = Spawn({kSlapd, "-d", "stats", "-h", listen, "-f", conf});
      if (m_pid > 0 && WaitReady()) return "";
      Stop();
    }
    return "slapd did not start: " + Log();
  }

  ~CTestDirectory() { Stop(); }

  // Terminates slapd and waits for it, at most 10 seconds before killing it.
  void Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
  }

  // Before Start: only bound users may read the data, and slapd also listens
  // on a local socket of its own (LocalUri), where SASL EXTERNAL binds as
  // the connecting process's user.
  void OnlyBoundUsersRead() { m_boundOnly = true; }
  std::string LocalUri() const {
    std::string uri = "ldapi://";
    for (char c : m_dir.Path() + "ldapi") uri += c == '/' ? std::string("%2F") : std::string(1, c);
    return uri + "/";
  }

  const std::string& Uri() const { return m_uri; }
  int Port() const { return m_port; }
  int SecurePort() const { return m_securePort; }

  // How many lines of slapd's log hold `part` (a search logs
  // "SRCH base=... filter=\"...\"").
  int CountLogged(const std::string& part) const {
    std::istringstream log(Log());
    int n = 0;
    for (std::string line; std::getline(log, line);) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }

  // A loopback port with nothing listening on it.
  static int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
  }

 private:
  std::string Config(const std::string& data) const {
    const std::string d = m_dir.Path();
    return "include /etc/ldap/schema/core.schema\n"
           "include " +
           data +
           "hexmoor.schema\n"
           "pidfile " +
           d +
           "slapd.pid\n"
           "argsfile " +
           d +
           "slapd.args\n"
           "modulepath /usr/lib/ldap\n"
           "moduleload back_mdb\n"
           "rootDSE " +
           d +
           "rootdse.ldif\n" +
           std::string(m_boundOnly ? "access to dn.base=\"\" by * read\naccess to * by users read by * none\n"
                                   : "access to * by * read\n") +
           "database mdb\n"
           "maxsize 16777216\n"
           "suffix \"" +
           std::string(kBase) +
           "\"\n"
           "rootdn \"cn=admin," +
           std::string(kBase) +
           "\"\n"
           "directory " +
           d + "db\n";
  }

  static std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
  }

  std::string Log() const { return ReadAll(m_dir.Path() + "slapd.log"); }

  pid_t Spawn(std::initializer_list<std::string> args) const {
    const std::string log = m_dir.Path() + "slapd.log";
    pid_t pid = fork();
    if (pid != 0) return pid;
    // slapd goes with the test program, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    FILE* out = std::freopen(log.c_str(), "a", stderr);
    if (out == nullptr) _exit(126);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }

  int Run(std::initializer_list<std::string> args) const {
    pid_t pid = Spawn(args);
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Up to 10 seconds for slapd to accept connections; false when it ended.
  bool WaitReady() {
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
      }
      int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(m_port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const bool up = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (up) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  CTempDir m_dir;
  pid_t m_pid = -1;
  int m_port = 0;
  int m_securePort = 0;
  std::string m_uri;
  bool m_boundOnly = false;
};
