// TLS on a new directory connection: ldaps://, or StartTLS where the URL's
// extension asks for it, within its step's deadline (a handshake that stalls
// ends at the deadline). A handshake refused for the directory's certificate
// is told apart from one that broke, and the failure says what was wrong
// with the certificate: a refused certificate is a directory that answered,
// not a dead one. libldap's verdict on a handshake stands, with its words.
// Each new connection uses the TLS set-up as its files are on disk: one
// that changed is read anew, and connections made before keep theirs.
#pragma once

#include <ldap.h>

#include <string>

#include "platform/directory_deadline.h"
#include "platform/directory_reach.h"

// The code of a handshake refused for the directory's certificate; no code
// of libldap's.
constexpr int kCertificateRefused = -10001;

// LDAP_SUCCESS (also when the host asks for no TLS), LDAP_TIMEOUT,
// kCertificateRefused, the directory's refusal of StartTLS or libldap's
// code of a broken handshake, with `why`. `fd` is the connection's socket.
int SecureConnection(LDAP* ld, int fd, const DirectoryHost& host, const CDeadline& step, std::string& why);
