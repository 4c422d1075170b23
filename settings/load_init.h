// The loader of the conversion engine's options: reads them from their source
// into intermediate records and turns the records into option rows in front
// of the rows already in an engine's option array.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/counted_ptr.h"
#include "platform/automation.h"
#include "platform/local_memory.h"
#include "settings/pl_settings.h"

// One value as read: a number, or a saved copy of a text (null for an empty
// text).
struct CIniValue {
  int32_t number = 0;
  const char* text = nullptr;
};

struct CStyleRecord {
  const char* name = nullptr;
  const char* markupStart = nullptr;
  const char* markupEnd = nullptr;
  int32_t flags = 0;
};

// Everything one read gives, by group; each array follows the rows of its
// table (settings/conversion_option_tables.h).
struct CConversionRecords {
  CIniValue templateValues[51];
  CIniValue optionValues[51];
  CIniValue contentsValues[2];
  int32_t headingValues[6][12] = {};  // by level H1..H6, then by heading row
  int32_t styleCount = 0;
  std::vector<CStyleRecord> styles;   // made only for a count of at least 1
  const char* trackChangesTexts[6] = {};
  int32_t rmSummary = 0;
  int32_t authorStyleCount = 0;
  std::vector<std::string> authorStyles;
};

// Saved texts live in local-heap blocks until the load that saved them ends.
struct CLocalFreeRelease {
  static void Release(char* block) { LocalFree(block); }
};
using CSavedIniStrings = std::vector<CCountedPtr<char, CLocalFreeRelease>>;

// A row added after all others: an option id and its value.
struct CConversionOption {
  int32_t id = 0;
  _variant_t value;
};
using CConversionOptionList = std::vector<CConversionOption>;

using COptionArrayHolder = CCountedPtr<CPLSettings::COptionArray>;

class CLoadInit {
 public:
  virtual ~CLoadInit() = default;
  // Replaces the holder's array by the rows read, then its own rows, then the
  // extra rows. 0 on success. A holder without an array of VARIANT, or a
  // failed copy of it, raises _com_error.
  virtual uint32_t Load(COptionArrayHolder& holder, const CConversionOptionList& extra) = 0;
  // Fills the records; texts are saved into strings. 0 after reading.
  virtual uint32_t ReadAll(CConversionRecords& records, CSavedIniStrings& strings) = 0;
};
