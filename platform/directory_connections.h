// The catalog connections request threads keep between look-ups: their
// generations, idle age and the search base of each catalog, and how long a
// kept connection may stay silent before it is given up for a new one.
//
// Connections carry the generation current when they were opened. A new
// generation starts when a directory is lost, when it answers again and when
// a kept connection was shown dead (a new connection answered while it
// stayed silent much longer than the directory takes): whatever went wrong
// then went wrong for every thread's kept connection, and each thread drops
// its own before it would wait on it.
#pragma once

#include <ldap.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/coarse_clock.h"

uint64_t CurrentGeneration();
uint64_t NewGeneration();

// The catalog connection a thread keeps between look-ups, with the search
// base the catalog's root named, so that a look-up on it is one search.
struct CKeptConnection {
  LDAP* ld = nullptr;
  std::string uri;
  std::string base;
  uint64_t generation = 0;
  CoarseSteadyClock::time_point idleSince;

  CKeptConnection() = default;
  CKeptConnection(const CKeptConnection&) = delete;
  CKeptConnection& operator=(const CKeptConnection&) = delete;
  ~CKeptConnection() { Drop(); }
  void Drop();
};

CKeptConnection& ThreadConnection();

// Whether a kept connection may be used again: to the same directory, of
// the current generation, not idle too long and not closed by the server.
bool KeptUsable(const CKeptConnection& kept, const std::string& uri);
void SetKeptIdleAge(std::chrono::milliseconds age);

// The search base each catalog's root named, by URI: read on the first
// connection only, so that a new connection costs a bind and no more.
bool KnownCatalogBase(const std::string& uri, std::string& base);
void NoteCatalogBase(const std::string& uri, const std::string& base);

// How long the directory took to answer a search; a search cut after a
// silence counts as one that took at least that long.
void NoteAnswerTime(std::chrono::steady_clock::duration took);

void ForgetAnswerTimes();

// Of `left`, what a kept connection may stay silent before a new one is
// tried: many times the directory's usual answer and twice its slowest of
// the last minute (fading), at least kADsKeptSilenceMinMs, and at most half, so that a new
// connection can still answer within the look-up's limit.
std::chrono::microseconds KeptSilence(std::chrono::microseconds left);

// How long in all a kept connection cut after `silence` may stay silent
// before it is shown dead: twice that, at least half a look-up's limit, so
// that a slow reply does not retire every thread's connection.
std::chrono::microseconds DeadSilence(std::chrono::microseconds silence);
