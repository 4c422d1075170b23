// The one way a text that names a directory URI reaches a log: without what
// may precede "@" in a URI's server part (a user name and its password),
// and without a server part that does not read as a host and port.
#pragma once

#include <string>

// `text` with, in every URI it holds (each from its "://" up to the next
// one), everything up to that URI's last "@" left out. A URI's path or
// filter holding an "@" loses its server too: a password may hold "/", "?"
// or a blank, and a text that may show one is never the one logged. What
// is left of the server part is read as a URI reader reads it, escapes
// decoded: unless it is a host with at most a port of digits, it may be a
// user part whose "@" was escaped ("admin:PW%40host") and is not shown. A
// query (where extensions may carry bind credentials) is not shown either.
std::string UriWithoutUserPart(std::string text);

// `uri` as configured (one URI, or libldap's list of them) without any user
// part, for a text that names it: everything from the end of its first
// "://" up to its last "@" is left out, and when an "@" comes before any
// "://" (a scheme mistyped or missing) everything up to the last "@". A
// password may itself hold "://", a blank or a comma, so where it ends
// cannot be told: the hosts of other URIs in the list go with it. A piece
// of the list (libldap splits it at blanks and commas) with no "://" is no
// URI libldap reads, and is not shown: it may be the rest of a password.
std::string ConfiguredUriWithoutUserPart(std::string uri);

// What stands for a server part or a configured text that is not shown.
inline constexpr char kUriPartNotShown[] = "[not shown: not a host and port]";
