// The base of both XML settings files: the file's path and times, the reload
// check, the element walkers that hand attributes to the derived class, the
// attribute conversions, and the item writer. Beside it, the free helpers
// over the XML documents.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "common/crit_sec.h"
#include "platform/automation.h"
#include "platform/file_times.h"
#include "platform/msxml.h"
#include "platform/win_types.h"
#include "settings/setting_ids.h"
#include "settings/settings_mistakes.h"

class CBasicSettings {
 public:
  // One attribute of an element: its name and, once read, its value.
  struct TAGITEM {
    _bstr_t name;
    _variant_t value;
  };
  using TagItems = std::vector<TAGITEM>;

  // What an ITEM, OPTION or MEASURE element yields.
  struct SettingItem {
    int32_t ID = 0;
    _bstr_t description;  // null when absent
    _variant_t value;     // as read: VT_BSTR, or VT_EMPTY when absent
  };

  // The walkers' callback: one element's attributes. The bool it returns is
  // not used by the walkers.
  struct _functBaseTrans {
    virtual ~_functBaseTrans() = default;
    virtual bool operator()(TagItems& attributes) = 0;
  };

  // Binds a member function of the derived class and its read context.
  template <class T, class Context>
  struct _functTrans : _functBaseTrans {
    using Member = bool (T::*)(TagItems&, Context&);
    _functTrans(T* object, Member member, Context* context) : m_pObject(object), m_member(member), m_pContext(context) {}
    bool operator()(TagItems& attributes) override { return (m_pObject->*m_member)(attributes, *m_pContext); }
    T* m_pObject;
    Member m_member;
    Context* m_pContext;
  };

  CBasicSettings() = default;
  CBasicSettings(const CBasicSettings&) = delete;
  CBasicSettings& operator=(const CBasicSettings&) = delete;
  virtual ~CBasicSettings() = default;

  virtual HRESULT LoadSettings(const std::string& path) = 0;
  virtual HRESULT SaveSettings() { return E_NOTIMPL; }
  // Writes one item element for kind 1; other kinds write nothing.
  virtual HRESULT DipatchSaveItem(CXMLDocument* document, CXMLNode* itemsNode, const std::vector<std::string>& names,
                                  const SettingItem* item, const char* elementName, int32_t kind);

  // Takes the file as it is now (its last-write time and identity) as the
  // version loaded.
  void HashFileDate();
  // Sets due when the reload interval has passed since the last check and
  // the file is another version than the one last loaded: its identity
  // (times to the nanosecond, size, inode) differs, whether it is newer,
  // equal in time or older. A due file is looked at again on every call
  // until a reload has run, so a reload that the caller skips is not lost.
  // A file that has gone is reported once until it is there again.
  // Safe to call from many threads at once.
  HRESULT IsReloadNeeded(bool* due);
  // Whether the file on disk is another version than the one in memory (no
  // interval, no logging); false when it cannot be looked at.
  bool IsFileNewerThanLoaded() const;
  // Loads the stored path again. After a failed load the version kept as
  // loaded is the one the load found before it parsed, so a version that a
  // writer finished during the parse is still due.
  HRESULT Refresh();

  int32_t GetReloadInterval() const { return m_nReloadInterval.load(std::memory_order_relaxed); }
  void SetReloadInterval(int32_t minutes) { m_nReloadInterval.store(minutes, std::memory_order_relaxed); }
  std::string GetPath() const;
  FILETIME GetLoadedFileTime() const;

  // The lock under which a finished load replaces the data in memory (the
  // holder's lock). Loads read and build outside it.
  void SetSwapLock(CSync* lock) { m_pSwapLock = lock; }

  static bool GetIntFromVariant(int32_t* value, const VARIANT& variant);
  // An element's ID: a number, or a text that is a plain decimal number
  // (blanks around it allowed). False for a missing attribute or any other text, which names no element
  // (read with atoi it would name set, engine or HX 0).
  static bool ReadElementID(int32_t* value, const VARIANT& variant);
  static bool VariantToString(std::string* value, const VARIANT& variant);
  static bool ReadItem(const TagItems& attributes, SettingItem* item);
  static HRESULT ReadAttributes(const CXMLNode& element, TagItems& attributes);
  // Calls the functor with the listed attributes of every element the path
  // selects below node. MSXML failures are raised as HRESULT exceptions.
  static HRESULT ForEachElement(const CXMLNode& node, const char* xpath, const std::vector<std::string>& names,
                                _functBaseTrans& functor);
  static HRESULT ForEachElementWithChildren(const CXMLNode& node, const char* xpath,
                                            const std::vector<std::string>& names, _functBaseTrans& functor,
                                            const char* childXPath, const std::vector<std::string>& childNames,
                                            _functBaseTrans& childFunctor);
  static HRESULT AddItemElement(CXMLDocument* document, CXMLNode* parent, const std::vector<std::string>& names,
                                const SettingItem& item, const char* elementName);

 protected:
  // Called by a load before it reads the file: besides the path, notes the
  // file's identity as the load is about to find it.
  void SetPath(const std::string& path);
  CSync* SwapLock() const { return m_pSwapLock; }
  // After a successful load: the file time read before the file was parsed
  // becomes the loaded file time (when it could not be read, the current
  // time), and the check time is stamped.
  void RecordLoad(bool haveFileTime, const FILETIME& fileTime);
  // Whether a load has ever succeeded, so that settings are in force.
  bool HasLoaded() const { return m_bLoaded.load(std::memory_order_relaxed); }

 private:
  // The reload check runs on many request threads at once.
  mutable std::mutex m_stateLock;
  FILETIME m_ftLoaded{0, 0};
  // Read without the lock by every request's check, so that the common case
  // (the interval has not passed) costs a clock read; written under it.
  std::atomic<uint64_t> m_nLastCheck{0};  // FILETIME ticks (UTC)
  std::atomic<bool> m_bHasPath{false};
  std::atomic<bool> m_bLoaded{false};
  std::atomic<bool> m_bMissingReported{false};
  FileIdentity m_loadedIdentity;    // the version in memory
  FileIdentity m_parsingIdentity;   // the version the last load set out to read
  std::string m_strPath;
  std::atomic<int32_t> m_nReloadInterval{kDefaultReloadIntervalMinutes};
  CSync* m_pSwapLock = nullptr;
};

// Free helpers over XML documents.
CXMLNode CreateXMLNode(CXMLDocument* document, int32_t nodeType, const _bstr_t& name);
HRESULT SetXMLIntAttribute(CXMLDocument* document, CXMLNamedNodeMap* attributes, const _bstr_t& name, int32_t value);
HRESULT SetXMLStringAttribute(CXMLDocument* document, CXMLNamedNodeMap* attributes, const _bstr_t& name,
                              const _bstr_t& value);
HRESULT GetXMLNodeValue(const CXMLNode& node, VARIANT* value);
// Synchronous load; returns the parse error's code (0 for a good document),
// and what the parser said in failure, when given.
HRESULT LoadXMLDocument(CXMLDocument* document, const _bstr_t& path, XMLLoadFailure* failure = nullptr);
HRESULT SaveXMLDocument(CXMLDocument* document, const _bstr_t& path);
HRESULT ReportXMLParseError(const CXMLParseError& error);
