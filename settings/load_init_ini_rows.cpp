// Turning the records read from the INI file into option rows: a new array of
// exactly as many rows as are made, the INI rows first, then the rows the
// engine's array held, then the extra rows.
#include <type_traits>

#include "common/debug_log.h"
#include "settings/load_init_ini.h"

using namespace ConversionOptionTables;

// The records have a place for every row of the tables.
static_assert(CountOf(kTemplateRows) == std::extent_v<decltype(CConversionRecords::templateValues)>);
static_assert(CountOf(kOptionRows) == std::extent_v<decltype(CConversionRecords::optionValues)>);
static_assert(CountOf(kContentsRows) == std::extent_v<decltype(CConversionRecords::contentsValues)>);
static_assert(kHeadingLevels == std::extent_v<decltype(CConversionRecords::headingValues), 0>);
static_assert(CountOf(kHeadingRows) == std::extent_v<decltype(CConversionRecords::headingValues), 1>);
static_assert(CountOf(kTrackChangesTextRows) == std::extent_v<decltype(CConversionRecords::trackChangesTexts)>);

namespace {

// An array that a load holds locked while it works on it: unlocked on every
// way out, and destroyed too when the load owns it.
class CLockedArray {
 public:
  CLockedArray(SAFEARRAY* array, bool owned) : m_pArray(array), m_bOwned(owned) {}
  CLockedArray(const CLockedArray&) = delete;
  CLockedArray& operator=(const CLockedArray&) = delete;
  ~CLockedArray() {
    if (m_bLocked) SafeArrayUnlock(m_pArray);
    if (m_bOwned) SafeArrayDestroy(m_pArray);
  }
  HRESULT Lock() {
    const HRESULT hr = SafeArrayLock(m_pArray);
    m_bLocked = SUCCEEDED(hr);
    return hr;
  }
  SAFEARRAY* get() const { return m_pArray; }

 private:
  SAFEARRAY* m_pArray;
  bool m_bOwned;
  bool m_bLocked = false;
};

// Hands out row numbers in sequence; a row whose writes fail still uses its
// number.
struct CRowWriter {
  SAFEARRAY* array;
  LONG row = -1;
  void Add(int32_t id, const VARIANT& value) { CLoadInitINI::AddElement(++row, id, value, array); }
  void Add(int32_t id, int32_t number) { Add(id, _variant_t(static_cast<LONG>(number))); }
};

void ThrowIfFailed(HRESULT hr) {
  if (FAILED(hr)) _com_issue_error(hr);
}

LONG RowCount(SAFEARRAY* array) {
  LONG lower = 0;
  LONG upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return 0;
  return upper - lower + 1;
}

SAFEARRAY* CreateOptionArray(ULONG rows) {
  SAFEARRAYBOUND bounds[2];
  bounds[0].cElements = rows;
  bounds[0].lLbound = 0;
  bounds[1].cElements = 2;  // option id, value
  bounds[1].lLbound = 0;
  return SafeArrayCreate(VT_VARIANT, 2, bounds);
}

// A text of the template and options groups is an empty text when missing;
// one of the style and track-changes groups is the null text.
_variant_t TextValue(const char* text, bool missingIsNull) {
  if (text == nullptr && missingIsNull) return _variant_t(static_cast<const char*>(nullptr));
  return _variant_t(text != nullptr ? text : "");
}

void AddTableRows(CRowWriter& rows, const IniOptionRow* table, size_t count, const CIniValue* values) {
  for (size_t i = 0; i < count; ++i) {
    if (table[i].kind == IniValueKind::Text) {
      rows.Add(table[i].id, TextValue(values[i].text, false));
    } else {
      rows.Add(table[i].id, values[i].number);
    }
  }
}

void AddContentsRows(CRowWriter& rows, const CConversionRecords& records) {
  AddTableRows(rows, kContentsRows, CountOf(kContentsRows), records.contentsValues);
  for (int32_t level = 0; level < kHeadingLevels; ++level) {
    const int32_t base = kFirstHeadingID + kHeadingIDStep * level;
    for (size_t k = 0; k < CountOf(kHeadingRows); ++k) {
      rows.Add(base + kHeadingRows[k].id, records.headingValues[level][k]);
    }
  }
}

// The styles as an array of four dimensions, indexed (column, 0, 0, style):
// the column's dimension has the four columns, the style's one a place per
// style, so the array grows with the style count alone.
void AddStyleRow(CRowWriter& rows, const CConversionRecords& records) {
  if (records.styles.empty() || records.styleCount == 0) return;
  SAFEARRAYBOUND bounds[4];
  bounds[0] = {static_cast<ULONG>(records.styles.size()), 0};  // indexed by the last index
  bounds[1] = {1, 0};
  bounds[2] = {1, 0};
  bounds[3] = {4, 0};  // indexed by the first index
  _variant_t value;
  value.parray = SafeArrayCreate(VT_VARIANT, 4, bounds);
  if (value.parray == nullptr) _com_issue_error(E_OUTOFMEMORY);
  value.vt = VT_ARRAY | VT_VARIANT;
  {
    CLockedArray locked(value.parray, false);
    ThrowIfFailed(locked.Lock());
    for (size_t i = 0; i < records.styles.size(); ++i) {
      const CStyleRecord& style = records.styles[i];
      const LONG styleIndex = static_cast<LONG>(i);
      const _variant_t columns[4] = {TextValue(style.name, true), TextValue(style.markupStart, true),
                                     TextValue(style.markupEnd, true), _variant_t(static_cast<LONG>(style.flags))};
      for (LONG column = 0; column < 4; ++column) {
        const LONG index[4] = {column, 0, 0, styleIndex};
        ThrowIfFailed(SafeArrayPutElement(value.parray, index, &columns[column]));
      }
    }
  }
  rows.Add(kStyleOptionID, value);
}

_variant_t AuthorStylesValue(const std::vector<std::string>& styles) {
  _variant_t value;
  if (styles.empty()) return value;
  SAFEARRAYBOUND bound{static_cast<ULONG>(styles.size()), 0};
  value.parray = SafeArrayCreate(VT_BSTR, 1, &bound);
  if (value.parray == nullptr) _com_issue_error(E_OUTOFMEMORY);
  value.vt = VT_ARRAY | VT_BSTR;
  for (size_t i = 0; i < styles.size(); ++i) {
    const _bstr_t text(styles[i]);
    const LONG index = static_cast<LONG>(i);
    ThrowIfFailed(SafeArrayPutElement(value.parray, &index, text.GetBSTR()));
  }
  return value;
}

void AddTrackChangesRows(CRowWriter& rows, const CConversionRecords& records) {
  for (size_t i = 0; i < CountOf(kTrackChangesTextRows); ++i) {
    rows.Add(kTrackChangesTextRows[i].id, TextValue(records.trackChangesTexts[i], true));
  }
  rows.Add(kAuthorStyleCountID, records.authorStyleCount);
  rows.Add(kRMSummaryID, records.rmSummary);
  rows.Add(kAuthorStylesID, AuthorStylesValue(records.authorStyles));
}

}  // namespace

HRESULT CLoadInitINI::AddElement(LONG row, int32_t id, const VARIANT& value, SAFEARRAY* array) {
  const _variant_t optionID(static_cast<LONG>(id));
  LONG index[2] = {0, row};
  HRESULT hr = SafeArrayPutElement(array, index, &optionID);
  if (FAILED(hr)) {
    DebugLog("AddElement Can not add in safearray elem");
    return hr;
  }
  index[0] = 1;
  hr = SafeArrayPutElement(array, index, &value);
  if (FAILED(hr)) DebugLog("AddElement Can not Set in safearray elem");
  return hr;
}

HRESULT CLoadInitINI::FillAditionalOptions(LONG& row, SAFEARRAY* array, SAFEARRAY* input) {
  const LONG count = RowCount(input);
  HRESULT hr = S_OK;
  for (LONG i = 0; i < count; ++i) {
    _variant_t id;
    LONG index[2] = {0, i};
    hr = SafeArrayGetElement(input, index, &id);
    if (FAILED(hr)) {
      DebugLog("FillAditionalOptions failed to get Dimension from SafeArray");
      return hr;
    }
    // A row whose id is not an integer is left out; its place stays empty
    // at the end of the array.
    if (id.vt != VT_I4) continue;
    _variant_t value;
    index[0] = 1;
    hr = SafeArrayGetElement(input, index, &value);
    if (FAILED(hr)) {
      DebugLog("FillAditionalOptions can not get index");
      continue;
    }
    hr = AddElement(++row, id.lVal, value, array);
  }
  return hr;
}

uint32_t CLoadInitINI::Load(COptionArrayHolder& holder, const CConversionOptionList& extra) {
  VARTYPE type = VT_EMPTY;
  if (!holder || holder->m_pArray == nullptr || FAILED(SafeArrayGetVartype(holder->m_pArray, &type)) ||
      type != VT_VARIANT) {
    _com_issue_error(E_INVALIDARG);
  }
  SAFEARRAY* copy = nullptr;
  ThrowIfFailed(SafeArrayCopy(holder->m_pArray, &copy));
  CLockedArray input(copy, true);
  ThrowIfFailed(input.Lock());

  CConversionRecords records;
  CSavedIniStrings strings;
  // The list is this load's own; it must not outlive it in m_pStrings.
  struct CForgetList {
    CSavedIniStrings*& list;
    ~CForgetList() { list = nullptr; }
  } forget{m_pStrings};
  const uint32_t result = ReadAll(records, strings);

  const bool styleRow = !records.styles.empty() && records.styleCount != 0;
  const size_t rowCount = kFixedConversionRows + (styleRow ? 1 : 0) + static_cast<size_t>(RowCount(copy)) +
                          extra.size();
  holder->Replace(nullptr);
  holder->Replace(CreateOptionArray(static_cast<ULONG>(rowCount)));
  if (holder->m_pArray == nullptr) {
    DebugLog("Failed to create Safearray in Load");
    return 1;
  }
  CLockedArray output(holder->m_pArray, false);
  if (FAILED(output.Lock())) {
    DebugLog("Failed to create Safearray in Load");
    return 1;
  }

  CRowWriter rows{holder->m_pArray};
  AddTableRows(rows, kTemplateRows, CountOf(kTemplateRows), records.templateValues);
  AddTableRows(rows, kOptionRows, CountOf(kOptionRows), records.optionValues);
  AddContentsRows(rows, records);
  AddStyleRow(rows, records);
  AddTrackChangesRows(rows, records);
  FillAditionalOptions(rows.row, holder->m_pArray, copy);
  for (const CConversionOption& option : extra) rows.Add(option.id, option.value);
  // The saved strings go with this load; the rows hold their own copies.
  return result;
}
