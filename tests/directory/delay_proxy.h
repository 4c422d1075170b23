// A loopback TCP proxy in front of the test directory that holds each reply
// of the directory for a while, or for ever (a directory that accepts
// connections and never answers). It counts the connections it accepted and
// can close them all, as a server closing idle connections does, or
// black-hole them, as a firewall forgetting idle connections does: they
// stay open and nothing goes through them any more. New connections can be
// black-holed as well, or refused (the port closed, as a stopped directory's
// is). The delay can change while it runs, and one reply
// in so many can be held longer, for a random while. One thread of its own,
// stopped with the object.
#pragma once

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <string>
#include <thread>
#include <vector>

class CDelayProxy {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kNeverAnswer{-1};

  // Listens on `port` of the loopback (0: any free one) and forwards to
  // `targetPort`, each reply `delay` later (kNeverAnswer: never).
  CDelayProxy(int targetPort, std::chrono::milliseconds delay, int port = 0)
      : m_target(targetPort), m_delayMs(delay.count()) {
    m_port = Listen(port);
    m_thread = std::thread([this] { Run(); });
  }

  ~CDelayProxy() {
    m_stop = true;
    m_thread.join();
    for (Pair& p : m_pairs) Close(p);
    if (m_listener >= 0) close(m_listener);
  }

  std::string Uri() const { return "ldap://127.0.0.1:" + std::to_string(m_port) + "/"; }
  int Accepted() const { return m_accepted.load(); }

  // Closes every connection; returns once done (at most a second).
  void DropAll() {
    const int done = m_drops.load() + 1;
    m_dropAsked = true;
    for (int i = 0; i < 100 && m_drops.load() < done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Nothing goes through the connections open now, from now on, while they
  // stay open; returns once done (at most a second).
  void BlackHoleExisting() {
    const int done = m_holes.load() + 1;
    m_holeAsked = true;
    for (int i = 0; i < 100 && m_holes.load() < done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Connections accepted from now on are black holes too (or, with false,
  // pass again).
  void BlackHoleNew(bool on) { m_holeNew = on; }

  // Closes every connection and the port, so that connections are refused
  // (or, with false, listens on the same port again); returns once done (at
  // most a second).
  void Refuse(bool on) {
    m_refuse = on;
    for (int i = 0; i < 100 && (m_listener < 0) != on; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  // Connections accepted from now on go to `targetPort` (a directory
  // replaced by another, as a restarted one with other data).
  void SetTarget(int targetPort) { m_target = targetPort; }

  // Replies read from now on are held `delay`.
  void SetDelay(std::chrono::milliseconds delay) { m_delayMs = delay.count(); }

  // From now on one reply in `oneIn` (0: none) is held a random while
  // between `shortest` and `longest` instead.
  void SetSlowReplies(int oneIn, std::chrono::milliseconds shortest, std::chrono::milliseconds longest) {
    m_slowShortestMs = shortest.count();
    m_slowLongestMs = longest.count();
    m_slowOneIn = oneIn;
  }

 private:
  struct Pair {
    int client = -1;
    int server = -1;
    std::deque<std::pair<Clock::time_point, std::string>> replies;
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
  }

  // Listens on `port` (0: any free one); the port.
  int Listen(int port) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a = Loopback(port);
    socklen_t len = sizeof a;
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listener, 16);
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    m_listener = listener;
    return ntohs(a.sin_port);
  }

  static void Close(Pair& p) {
    if (p.client >= 0) close(p.client);
    if (p.server >= 0) close(p.server);
    p.client = p.server = -1;
  }

  void Accept() {
    Pair p;
    p.client = accept(m_listener, nullptr, nullptr);
    if (p.client < 0) return;
    ++m_accepted;
    if (m_delayMs.load() >= 0 && !m_holeNew) {
      p.server = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a = Loopback(m_target);
      if (connect(p.server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close(p);
    }
    if (p.client >= 0) m_pairs.push_back(std::move(p));
  }

  // Moves what is readable on one side; false when that side closed.
  bool Pump(Pair& p, bool fromClient) {
    char buffer[16384];
    const ssize_t n = read(fromClient ? p.client : p.server, buffer, sizeof buffer);
    if (n <= 0) return false;
    if (fromClient) {
      if (p.server >= 0) (void)!send(p.server, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
    } else {
      p.replies.emplace_back(Clock::now() + ReplyDelay(), std::string(buffer, static_cast<size_t>(n)));
    }
    return true;
  }

  std::chrono::milliseconds ReplyDelay() {
    const int oneIn = m_slowOneIn.load();
    if (oneIn > 0 && std::uniform_int_distribution<int>(1, oneIn)(m_random) == 1) {
      return std::chrono::milliseconds(
          std::uniform_int_distribution<int64_t>(m_slowShortestMs.load(), m_slowLongestMs.load())(m_random));
    }
    return std::chrono::milliseconds(m_delayMs.load());
  }

  void SendDue(Pair& p) {
    while (!p.replies.empty() && p.replies.front().first <= Clock::now()) {
      // The module may have given up on the reply and closed its side.
      (void)!send(p.client, p.replies.front().second.data(), p.replies.front().second.size(), MSG_NOSIGNAL);
      p.replies.pop_front();
    }
  }

  void Run() {
    while (!m_stop) {
      if (m_refuse && m_listener >= 0) {
        for (Pair& p : m_pairs) Close(p);
        m_pairs.clear();
        close(m_listener);
        m_listener = -1;
      } else if (!m_refuse && m_listener < 0) {
        (void)Listen(m_port);
      }
      if (m_dropAsked.exchange(false)) {
        for (Pair& p : m_pairs) Close(p);
        m_pairs.clear();
        ++m_drops;
      }
      if (m_holeAsked.exchange(false)) {
        // The client's side stays open; what it sends is read and lost.
        for (Pair& p : m_pairs) {
          if (p.server >= 0) close(p.server);
          p.server = -1;
          p.replies.clear();
        }
        ++m_holes;
      }
      std::vector<pollfd> fds{{m_listener, POLLIN, 0}};
      for (const Pair& p : m_pairs) {
        fds.push_back({p.client, POLLIN, 0});
        fds.push_back({p.server, POLLIN, 0});  // -1 is ignored
      }
      poll(fds.data(), fds.size(), 10);
      if (m_listener >= 0 && fds[0].revents != 0) Accept();
      for (size_t i = 0; i + 1 < fds.size() && i / 2 < m_pairs.size(); i += 2) {
        Pair& p = m_pairs[i / 2];
        bool open = true;
        if (fds[i + 1].revents != 0) open = Pump(p, true);
        if (open && fds[i + 2].revents != 0) open = Pump(p, false);
        if (!open) Close(p);
      }
      for (Pair& p : m_pairs) SendDue(p);
      std::erase_if(m_pairs, [](const Pair& p) { return p.client < 0; });
    }
  }

  std::atomic<int> m_target;
  std::atomic<int64_t> m_delayMs;
  std::atomic<int> m_slowOneIn{0};
  std::atomic<int64_t> m_slowShortestMs{0};
  std::atomic<int64_t> m_slowLongestMs{0};
  std::mt19937 m_random{20261208};
  std::atomic<int> m_listener{-1};
  std::atomic<bool> m_refuse{false};
  int m_port = 0;
  std::vector<Pair> m_pairs;
  std::atomic<int> m_accepted{0};
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_dropAsked{false};
  std::atomic<int> m_drops{0};
  std::atomic<bool> m_holeAsked{false};
  std::atomic<bool> m_holeNew{false};
  std::atomic<int> m_holes{0};
  std::thread m_thread;
};
