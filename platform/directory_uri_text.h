// The one way a text that names a directory URI reaches a log: without what
// may precede "@" in a URI's server part (a user name and its password).
#pragma once

#include <string>

// `text` with, in every URI it holds (each from its "://" up to the next
// one), everything up to that URI's last "@" left out. A URI's path or
// filter holding an "@" loses its server too: a password may hold "/", "?"
// or a blank, and a text that may show one is never the one logged.
std::string UriWithoutUserPart(std::string text);
