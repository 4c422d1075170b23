// The link-criteria file: for each module (HX) identifier, which settings
// set serves each criteria identifier.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "common/counted_ptr.h"
#include "settings/basic_settings.h"

struct CLinkCriteriaItem {
  int32_t m_nHXID = 0;
  std::string m_strDescription;
  std::map<int32_t, int32_t> m_criteria;  // criteria identifier -> settings identifier

  static void Delete(CLinkCriteriaItem* item);
};

struct CLinkCriteriaItemRelease {
  static void Release(CLinkCriteriaItem* item) { CLinkCriteriaItem::Delete(item); }
};

class CLinkCriteria : public CBasicSettings {
 public:
  using ItemPtr = CCountedPtr<CLinkCriteriaItem, CLinkCriteriaItemRelease>;
  using LinkMap = std::map<int32_t, ItemPtr>;

  CLinkCriteria() = default;
  ~CLinkCriteria() override;

  HRESULT LoadSettings(const std::string& path) override { return LoadLinkCriteria(path); }
  HRESULT SaveSettings() override { return SaveLinkCriteria(); }

  // Reads the whole file, then replaces the links in memory under the swap
  // lock; a missing or unreadable file leaves them as they were.
  HRESULT LoadLinkCriteria(const std::string& path);
  HRESULT SaveLinkCriteria();

  // The settings identifier of a criteria identifier for one module. Callers
  // hold the holder's lock.
  const LinkMap& GetLinkMap() const { return m_links; }

 private:
  struct ReadContext {
    LinkMap links;
    std::optional<int32_t> currentHX;
    std::string path;      // the file, for the reports
    std::string rootName;  // the root element, when it is not <HEXMOORS>
    CSettingsMistakes mistakes;
  };
  // Reports what of the file this module cannot use.
  static void NoteMistakes(const CXMLNode& root, ReadContext& context);
  bool AddHX(TagItems& attributes, ReadContext& context);
  bool AddLink(TagItems& attributes, ReadContext& context);

  LinkMap m_links;
};
