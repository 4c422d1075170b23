// Name resolution, TCP connect and the step watch of directory connections.
#include "platform/directory_reach.h"

#include "platform/adsi.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <ldap.h>
#include <strings.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <algorithm>
#include <map>
#include <optional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/standard_streams.h"

namespace {

// How often waits look at a cut deadline.
constexpr std::chrono::milliseconds kCutLook{50};
// How long a resolver's answer is used.
constexpr std::chrono::seconds kNameKept{60};

std::atomic<DirectoryResolver> g_resolver{nullptr};

struct Address {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// One resolution of a name: running, or done with its answer.
struct Resolution {
  bool done = false;
  int rc = 0;
  std::vector<Address> addresses;
  CDeadline::Clock::time_point at;
  // The address tried first: one that took no connection in time, or
  // accepted connections and then fell silent, is passed over, so that a
  // name with a healthy later address costs one connection, not every
  // one. A passed-over address is tried first again once the longest
  // back-off of a lost directory has passed since.
  size_t first = 0;
  CDeadline::Clock::time_point passedOverAt;
  // A newer answer is being asked for while this one still serves; the
  // last one asked for failed at `refreshFailedAt` (none: never), and the
  // next waits a probe's interval, as a lost directory's probe does.
  bool refreshing = false;
  std::optional<CDeadline::Clock::time_point> refreshFailedAt;
};

// How long a failed resolution or refresh waits before the next: the first
// retry of a lost directory.
constexpr std::chrono::milliseconds kResolveRetry{kADsFirstRetryMs};

// The address to try first now: a passed-over one waits for the longest
// back-off of a lost directory.
constexpr std::chrono::seconds kPassedOver{kADsRetryIntervalSeconds};
size_t FirstAddress(Resolution& resolution, CDeadline::Clock::time_point now) {
  if (resolution.first != 0 && now - resolution.passedOverAt >= kPassedOver) resolution.first = 0;
  return resolution.first;
}

// Never destroyed: a resolution may finish while the process exits.
std::mutex& g_namesLock = *new std::mutex;
std::condition_variable& g_namesDone = *new std::condition_variable;
std::map<std::string, std::shared_ptr<Resolution>>& g_names = *new std::map<std::string, std::shared_ptr<Resolution>>;

void Resolve(const std::string& name, const std::shared_ptr<Resolution>& resolution) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  DirectoryResolver resolver = g_resolver.load();
  const int rc = (resolver != nullptr ? resolver : &getaddrinfo)(name.c_str(), nullptr, &hints, &found);
  std::vector<Address> addresses;
  for (addrinfo* a = found; rc == 0 && a != nullptr; a = a->ai_next) {
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    Address one;
    std::memcpy(&one.address, a->ai_addr, a->ai_addrlen);
    one.length = a->ai_addrlen;
    addresses.push_back(one);
  }
  if (found != nullptr) freeaddrinfo(found);
  {
    std::lock_guard<std::mutex> hold(g_namesLock);
    resolution->rc = rc;
    resolution->addresses = std::move(addresses);
    resolution->at = CDeadline::Clock::now();
    resolution->done = true;
  }
  g_namesDone.notify_all();
}

// An address literal, without asking the resolver.
bool Literal(const std::string& host, std::vector<Address>& out) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
  Address one;
  std::memcpy(&one.address, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof one.address));
  one.length = found->ai_addrlen;
  out.push_back(one);
  freeaddrinfo(found);
  return true;
}

// Whether two socket addresses name the same host, whatever their ports.
bool SameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
  }
  return a.ss_family == AF_INET6 && std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                                                &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr,
                                                sizeof(in6_addr)) == 0;
}

// A newer answer for `name`, asked for while `kept` serves: it takes
// `kept`'s place once it comes; a failed one leaves `kept` serving.
void Refresh(const std::string& name, const std::shared_ptr<Resolution>& kept) {
  auto next = std::make_shared<Resolution>();
  Resolve(name, next);
  std::lock_guard<std::mutex> hold(g_namesLock);
  const auto it = g_names.find(name);
  if (next->rc == 0 && it != g_names.end() && it->second == kept) {
    // The same addresses: one passed over stays passed over.
    const auto same = [](const Address& a, const Address& b) { return SameHost(a.address, b.address); };
    if (std::equal(next->addresses.begin(), next->addresses.end(), kept->addresses.begin(), kept->addresses.end(),
                   same)) {
      next->first = kept->first;
      next->passedOverAt = kept->passedOverAt;
    }
    it->second = next;
  }
  // A resolver that fails is asked again after a probe's interval, not by
  // the next connection: while the name servers fail, every connection
  // would start a resolution and a thread of its own.
  if (next->rc != 0) kept->refreshFailedAt = next->at;
  kept->refreshing = false;
}

// The addresses of `name` within `deadline`. A resolution goes on past the
// deadline on a thread of its own, and its answer serves the look-ups that
// come within kNameKept; an older answer serves on while a newer one is
// asked for, so that a resolver slower than a look-up fails none once it
// has answered.
bool Addresses(const std::string& name, const CDeadline& deadline, std::vector<Address>& out, size_t& first,
               std::string& why) {
  first = 0;
  if (Literal(name, out)) return true;
  std::unique_lock<std::mutex> hold(g_namesLock);
  std::shared_ptr<Resolution>& slot = g_names[name];
  const auto now = CDeadline::Clock::now();
  const bool usable = slot && slot->done && slot->rc == 0;
  if (usable && now - slot->at >= kNameKept && !slot->refreshing &&
      !(slot->refreshFailedAt && now - *slot->refreshFailedAt < kResolveRetry)) {
    try {
      std::thread([name, kept = slot] { Refresh(name, kept); }).detach();
      slot->refreshing = true;
    } catch (const std::system_error&) {
      // Asked again by the next look-up.
    }
  }
  // A resolution that failed lately is its answer until it may be asked again.
  const bool failedLately = slot && slot->done && slot->rc != 0 && now - slot->at < kResolveRetry;
  if (!usable && !(slot && !slot->done) && !failedLately) {
    slot = std::make_shared<Resolution>();
    try {
      std::thread([name, resolution = slot] { Resolve(name, resolution); }).detach();
    } catch (const std::system_error&) {
      slot.reset();
      why = "no thread to resolve the name";
      return false;
    }
  }
  const std::shared_ptr<Resolution> resolution = slot;
  while (!resolution->done && !deadline.Over()) {
    const auto until = deadline.Cut() != nullptr ? std::min(deadline.At(), CDeadline::Clock::now() + kCutLook)
                                                 : deadline.At();
    g_namesDone.wait_until(hold, until);
  }
  if (!resolution->done) {
    why = "the name was not resolved within the look-up's limit";
    return false;
  }
  if (resolution->rc != 0) {
    why = std::string("cannot resolve the name: ") + gai_strerror(resolution->rc);
    return false;
  }
  out = resolution->addresses;
  first = FirstAddress(*resolution, CDeadline::Clock::now());
  return true;
}

void SetPort(Address& a, int port) {
  if (a.address.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(a.address).sin_port = htons(port);
  if (a.address.ss_family == AF_INET6) reinterpret_cast<sockaddr_in6&>(a.address).sin6_port = htons(port);
}

// A connection to one address within `deadline`: the socket, or -1 with
// errno (ETIMEDOUT when out of time).
int ConnectAddress(const Address& to, const CDeadline& deadline) {
  const int fd = AboveStandardStreams(socket(to.address.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (fd < 0) return -1;
  int rc = connect(fd, reinterpret_cast<const sockaddr*>(&to.address), to.length);
  if (rc != 0 && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
      const int slice = deadline.Cut() != nullptr ? std::min<int>(deadline.LeftMs(), kCutLook.count())
                                                  : deadline.LeftMs();
      rc = poll(&p, 1, slice);
      // A signal is no answer: the wait goes on within its deadline.
      if (rc < 0 && errno == EINTR && !deadline.Over()) continue;
      if (rc != 0 || deadline.Over()) break;
    }
    int error = ETIMEDOUT;
    socklen_t length = sizeof error;
    if (rc > 0) getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
    else if (rc < 0) error = errno;
    rc = error == 0 ? 0 : -1;
    errno = error;
  }
  if (rc != 0) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// The step watch: entries by socket, one thread that shuts the sockets of
// lapsed entries down.
struct Watches {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<void*> entries;
  bool started = false;
};
// Never destroyed: the watch thread lives as long as the process.
Watches& g_watches = *new Watches;

}  // namespace

// The watch shuts its own descriptor of the socket down: libldap may close
// the step's descriptor while the watch lives (a connection it found lost),
// and the number may then name another thread's socket.
struct CStepWatch::Entry {
  int fd;
  CDeadline deadline;
  bool fired = false;
};

namespace {

void WatchLoop() {
  std::unique_lock<std::mutex> hold(g_watches.lock);
  for (;;) {
    auto next = CDeadline::Clock::time_point::max();
    for (void* e : g_watches.entries) {
      auto* entry = static_cast<CStepWatch::Entry*>(e);
      if (entry->fired) continue;
      if (entry->deadline.Over()) {
        shutdown(entry->fd, SHUT_RDWR);
        entry->fired = true;
        continue;
      }
      next = std::min(next, entry->deadline.At());
      if (entry->deadline.Cut() != nullptr) next = std::min(next, CDeadline::Clock::now() + kCutLook);
    }
    if (next == CDeadline::Clock::time_point::max()) {
      g_watches.changed.wait(hold);
    } else {
      g_watches.changed.wait_until(hold, next);
    }
  }
}

}  // namespace

CStepWatch::CStepWatch(int fd, const CDeadline& deadline)
    : m_entry(new Entry{fcntl(fd, F_DUPFD_CLOEXEC, 0), deadline}) {
  // Without a descriptor of its own the step is bounded by its waits only.
  if (m_entry->fd < 0) return;
  std::lock_guard<std::mutex> hold(g_watches.lock);
  if (!g_watches.started) {
    try {
      std::thread(WatchLoop).detach();
      g_watches.started = true;
    } catch (const std::system_error&) {
      // No watch: the step is bounded by libldap's own limits only.
    }
  }
  g_watches.entries.push_back(m_entry);
  g_watches.changed.notify_all();
}

CStepWatch::~CStepWatch() {
  if (m_entry->fd >= 0) {
    {
      std::lock_guard<std::mutex> hold(g_watches.lock);
      std::erase(g_watches.entries, static_cast<void*>(m_entry));
    }
    close(m_entry->fd);
  }
  delete m_entry;
}

bool CStepWatch::Fired() const {
  std::lock_guard<std::mutex> hold(g_watches.lock);
  return m_entry->fired;
}

namespace {

// Address `to` of `name` took a connection where the ones tried before it
// took none: it is tried first from now on, until the back-off has passed.
void PassOverTo(const std::string& name, const Address& to) {
  std::lock_guard<std::mutex> hold(g_namesLock);
  const auto it = g_names.find(name);
  if (it == g_names.end() || !it->second || !it->second->done) return;
  Resolution& resolution = *it->second;
  for (size_t i = 0; i < resolution.addresses.size(); ++i) {
    if (SameHost(resolution.addresses[i].address, to.address)) {
      resolution.first = i;
      resolution.passedOverAt = CDeadline::Clock::now();
      return;
    }
  }
}

}  // namespace

int ConnectToHost(const std::string& host, int port, const CDeadline& deadline, std::string& why) {
  const std::string name = host.empty() ? "localhost" : host;
  std::vector<Address> addresses;
  size_t first = 0;
  if (!Addresses(name, deadline, addresses, first, why)) return -1;
  why = "the name has no address";
  for (size_t i = 0; i < addresses.size(); ++i) {
    Address& to = addresses[(first + i) % addresses.size()];
    SetPort(to, port);
    // The addresses left share the time left.
    const int fd = ConnectAddress(to, deadline.Share(static_cast<int>(addresses.size() - i)));
    if (fd >= 0) {
      // Those before it took no connection: the next connections start here.
      if (i > 0) PassOverTo(name, to);
      return fd;
    }
    why = errno == ETIMEDOUT ? std::string("no connection within the look-up's limit")
                             : std::string("cannot connect: ") + std::strerror(errno);
  }
  // No address of the name took a connection: the directory may have moved,
  // and the next connection asks the resolver again.
  std::lock_guard<std::mutex> hold(g_namesLock);
  const auto it = g_names.find(name);
  if (it != g_names.end() && it->second && it->second->done) g_names.erase(it);
  return -1;
}

void PassOverAddress(const std::string& host, int fd) {
  sockaddr_storage peer{};
  socklen_t length = sizeof peer;
  if (fd < 0 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return;
  std::lock_guard<std::mutex> hold(g_namesLock);
  const auto it = g_names.find(host.empty() ? "localhost" : host);
  if (it == g_names.end() || !it->second || !it->second->done) return;
  Resolution& resolution = *it->second;
  const size_t count = resolution.addresses.size();
  if (count > 1 && SameHost(resolution.addresses[resolution.first % count].address, peer)) {
    resolution.first = (resolution.first + 1) % count;
    resolution.passedOverAt = CDeadline::Clock::now();
  }
}

void SetDirectoryResolver(DirectoryResolver resolver) { g_resolver.store(resolver); }

void AgeResolvedNames() {
  std::lock_guard<std::mutex> hold(g_namesLock);
  for (auto& [name, resolution] : g_names) {
    if (resolution) resolution->at -= kNameKept;
  }
}

void ForgetResolvedNames() {
  std::lock_guard<std::mutex> hold(g_namesLock);
  g_names.clear();
}

bool DirectoryHostsOf(const std::string& uris, std::vector<DirectoryHost>& hosts, std::string& why) {
  size_t at = 0;
  while (at < uris.size()) {
    const size_t start = uris.find_first_not_of(" \t,", at);
    if (start == std::string::npos) break;
    at = std::min(uris.find_first_of(" \t,", start), uris.size());
    const std::string url = uris.substr(start, at - start);
    LDAPURLDesc* u = nullptr;
    const int rc = ldap_url_parse(url.c_str(), &u);
    if (rc != LDAP_URL_SUCCESS) {
      why = "not an LDAP URL (" + std::to_string(rc) + ")";
      return false;
    }
    // A user part is no host name (and may hold a password): not used, not shown.
    if (u->lud_host != nullptr && std::strchr(u->lud_host, '@') != nullptr) {
      ldap_free_urldesc(u);
      why = "a URL's server part holds a user part";
      return false;
    }
    DirectoryHost host;
    host.url = url;
    host.scheme = u->lud_scheme != nullptr ? u->lud_scheme : "ldap";
    host.host = u->lud_host != nullptr ? u->lud_host : "";
    const bool secure = strcasecmp(host.scheme.c_str(), "ldaps") == 0;
    host.port = u->lud_port != 0 ? u->lud_port : secure ? LDAPS_PORT : LDAP_PORT;
    for (int i = 0; u->lud_exts != nullptr && u->lud_exts[i] != nullptr; ++i) {
      const char* ext = u->lud_exts[i];
      if (*ext == '!') ++ext;
      if (strcasecmp(ext, "StartTLS") == 0 || strcasecmp(ext, "X-StartTLS") == 0 ||
          std::strcmp(ext, LDAP_EXOP_START_TLS) == 0) {
        host.startTls = true;
      }
    }
    ldap_free_urldesc(u);
    hosts.push_back(std::move(host));
  }
  if (hosts.empty()) why = "no URL";
  return !hosts.empty();
}
