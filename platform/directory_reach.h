// Reaching a directory host within a deadline: its name resolved (one
// resolution shared by the threads that ask for the name at once, its
// answer kept a minute, so that a resolver slower than a look-up still
// serves the next one), a TCP connection made, and a watch that ends a
// blocking step of libldap's on that connection (a TLS handshake, a SASL
// bind) at its deadline by shutting the socket down. A resolution or a
// step that outlives its deadline never holds the thread that waits on it.
// A resolution that failed is asked again after a second, not by every
// new connection; a signal ends no wait.
#pragma once

#include <string>
#include <vector>

#include "platform/directory_deadline.h"

#include <ldap.h>

// libldap's connection over a socket made by its caller (ldap_open(3)):
// exported by libldap, declared in no public header.
extern "C" int ldap_init_fd(ber_socket_t fd, int proto, const char* url, LDAP** ld);
constexpr int kLdapProtoTcp = 1;  // LDAP_PROTO_TCP

// A connected TCP socket to `host` (a name or an address literal; empty:
// localhost) and `port`, made within `deadline`; -1 with `why` (the host
// not named: it may hold a URI's user part) when it could not be, and the
// name's kept addresses are then forgotten. The socket does not block:
// libldap reads a reply that came in part, and writes to a directory that
// reads nothing, only as far as they go, and its waits then end at their
// time-outs.
int ConnectToHost(const std::string& host, int port, const CDeadline& deadline, std::string& why);

// The address of `host` that socket `fd` is connected to accepted the
// connection and then did not answer within its step: new connections to
// the name try its next address first. A passed-over address (this one, or
// one that took no connection while a later one did) is tried first again
// only after the longest back-off of a lost directory.
void PassOverAddress(const std::string& host, int fd);

// The function that resolves a name, getaddrinfo's shape (tests put in a
// slow resolver; null: getaddrinfo).
struct addrinfo;
using DirectoryResolver = int (*)(const char* name, const char* service, const addrinfo* hints, addrinfo** result);
void SetDirectoryResolver(DirectoryResolver resolver);
// The names resolved are forgotten (tests start cold), or their answers
// taken as due for a newer one.
void ForgetResolvedNames();
void AgeResolvedNames();

// While it lives, socket `fd` is shut down once `deadline` passes (or is
// cut), so that a blocking step on it fails at once. After it, the socket
// is not touched.
class CStepWatch {
 public:
  struct Entry;
  CStepWatch(int fd, const CDeadline& deadline);
  ~CStepWatch();
  CStepWatch(const CStepWatch&) = delete;
  CStepWatch& operator=(const CStepWatch&) = delete;
  // Whether the deadline ended the step.
  bool Fired() const;

 private:
  Entry* m_entry;
};

// One host of a directory URI list.
struct DirectoryHost {
  std::string url;     // this host's URL alone
  std::string scheme;  // ldap, ldaps, ldapi...
  std::string host;    // empty: localhost
  int port = 0;
  bool startTls = false;  // the URL asks for StartTLS (its extension)
};

// The hosts of a URI list (space or comma separated), in order; false with
// `why` when libldap cannot read it.
bool DirectoryHostsOf(const std::string& uris, std::vector<DirectoryHost>& hosts, std::string& why);
