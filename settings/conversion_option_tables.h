// The conversion engine's options as the INI file of conversion options names
// them: for each group, its section, its keys, how each value is read, the
// key's default and the option id it becomes, in the order of the rows that
// the loader makes.
#pragma once

#include <cstddef>
#include <cstdint>

enum class IniValueKind {
  Flag,       // 1 for exactly "TRUE", else 0
  Number,     // atoi
  Name,       // ConversionConstantValue
  FirstChar,  // the first byte, unsigned; 0 for an empty text
  Text,       // a text row
  MaxMemory,  // "LONG_MAX" without case, else atol
  FontSize,   // one item of the comma-separated "FontSizeMap"
};

struct IniOptionRow {
  int32_t id;
  const char* key;
  IniValueKind kind;
  const char* defaultText;
  int32_t fontItem = 0;      // FontSize: the item, from 0
  int32_t fontFallback = 0;  // FontSize: the size when the item is missing
};

namespace ConversionOptionTables {

constexpr const char* kTemplateSection = "KVHTMLTemplateEx";
constexpr const char* kOptionsSection = "KVHTMLOptionsEx";
constexpr const char* kContentsSection = "KVHTMLTOCOptions";
constexpr const char* kHeadingSection = "KVHTMLHeadingInfo";
constexpr const char* kStyleSection = "KVStyle";
constexpr const char* kStyleSectionFormat = "Style%d";
constexpr const char* kTrackChangesSection = "TrackChanges";
constexpr const char* kAuthorStyleSection = "AUTHORSTYLE";

using K = IniValueKind;

// Ids 22 and 24 occur twice: under "szFirstH1Start"/"szFirstH1End" and under
// "szTOCH1Start"/"szTOCH1End".
constexpr IniOptionRow kTemplateRows[] = {
    {54, "bHardPageMakesNewBlock", K::Flag, "FALSE"},
    {53, "bPutBlocksInSeparateFiles", K::Flag, "FALSE"},
    {55, "bTableHTMLForSpreadsheetOnly", K::Flag, "FALSE"},
    {1, "szMainTop", K::Text, ""},
    {2, "szMainBottom", K::Text, ""},
    {3, "szFirstH1Start", K::Text, ""},
    {4, "szFirstH1End", K::Text, ""},
    {5, "szMiddleH1Start", K::Text, ""},
    {6, "szMiddleH1End", K::Text, ""},
    {7, "szLastH1Start", K::Text, ""},
    {8, "szLastH1End", K::Text, ""},
    {9, "szXFile", K::Text, ""},
    {10, "szStartBlock", K::Text, ""},
    {11, "szEndBlock", K::Text, ""},
    {12, "szChunkTemplate", K::Text, ""},
    {13, "szTableHTML", K::Text, ""},
    {14, "szUserSummary", K::Text, ""},
    {15, "szXStartBlock", K::Text, ""},
    {16, "szXEndBlock", K::Text, ""},
    {17, "szH2HTML", K::Text, ""},
    {18, "szH3HTML", K::Text, ""},
    {19, "szH4HTML", K::Text, ""},
    {20, "szH5HTML", K::Text, ""},
    {21, "szH6HTML", K::Text, ""},
    {23, "szTOC_H1", K::Text, ""},
    {27, "szTOC_H2", K::Text, ""},
    {31, "szTOC_H3", K::Text, ""},
    {35, "szTOC_H4", K::Text, ""},
    {39, "szTOC_H5", K::Text, ""},
    {43, "szTOC_H6", K::Text, ""},
    {22, "szFirstH1Start", K::Text, ""},
    {24, "szFirstH1End", K::Text, ""},
    {25, "szTOCH1LeafNode", K::Text, ""},
    {24, "szTOCH1End", K::Text, ""},
    {22, "szTOCH1Start", K::Text, ""},
    {29, "szTOCH2LeafNode", K::Text, ""},
    {28, "szTOCH2End", K::Text, ""},
    {26, "szTOCH2Start", K::Text, ""},
    {33, "szTOCH3LeafNode", K::Text, ""},
    {32, "szTOCH3End", K::Text, ""},
    {30, "szTOCH3Start", K::Text, ""},
    {37, "szTOCH4LeafNode", K::Text, ""},
    {36, "szTOCH4End", K::Text, ""},
    {34, "szTOCH4Start", K::Text, ""},
    {41, "szTOCH5LeafNode", K::Text, ""},
    {40, "szTOCH5End", K::Text, ""},
    {38, "szTOCH5Start", K::Text, ""},
    {45, "szTOCH6LeafNode", K::Text, ""},
    {44, "szTOCH6End", K::Text, ""},
    {42, "szTOCH6Start", K::Text, ""},
    {175, "lcbBlockSize", K::Number, ""},
};

// Id 63 occurs twice, with the same value.
constexpr IniOptionRow kOptionRows[] = {
    {61, "bDisplayRelativeFontSize", K::Flag, "FALSE"},
    {75, "bEnableEmptyRows", K::Flag, "FALSE"},
    {74, "bForceOutputCharSet", K::Flag, "FALSE"},
    {76, "bForceSrcCharSet", K::Flag, "FALSE"},
    {66, "bGenerateURLs", K::Flag, "TRUE"},
    {63, "bNbspEmptyCells", K::Flag, "FALSE"},
    {63, "bNbspEmptyCells", K::Flag, "FALSE"},
    {65, "bRasterizeFiles", K::Flag, "FALSE"},
    {72, "bRemoveEmptyColumns", K::Flag, "FALSE"},
    {173, "bRemoveEmptyRows", K::Flag, "FALSE"},
    {64, "bRemoveFileNameSpaces", K::Flag, "FALSE"},
    {69, "bSupportCellSpan", K::Flag, "FALSE"},
    {67, "bSupportColumnHeadings", K::Flag, "FALSE"},
    {71, "bSupportColumnWidth", K::Flag, "FALSE"},
    {62, "bSupportRFC1942_cols", K::Flag, "FALSE"},
    {58, "bSupportFontFace", K::Flag, "FALSE"},
    {68, "bSupportRowHeadings", K::Flag, "FALSE"},
    {70, "bSupportRowSpan", K::Flag, "FALSE"},
    {60, "bSupportUserFontSizeMapping", K::Flag, "FALSE"},
    {56, "bUseDocumentColors", K::Flag, "TRUE"},
    {57, "bUseDocumentFontInfo", K::Flag, "TRUE"},
    {169, "cRedact", K::FirstChar, "X"},
    {168, "cReplaceChar", K::FirstChar, " "},
    {163, "cxVectorToRasterXRes", K::Number, "0"},
    {164, "cyVectorToRasterYRes", K::Number, "0"},
    {170, "eSrcCharSet", K::Name, ""},
    {167, "eStyleSheetType", K::Name, "STYLESHEET_DISABLED"},
    {73, "bTabsToTables", K::Flag, "FALSE"},
    {172, "lcbMaxMemUsage", K::MaxMemory, "LONG_MAX"},
    {171, "nCompressionQuality", K::Number, "0"},
    {165, "nRowsBeforeSplit", K::Number, ""},
    {160, "nTableBorderWidth", K::Number, "1"},
    {151, "OutputCharSet", K::Name, "KVCS_UNKNOWN"},
    {166, "OutputLanguageID", K::Name, "Language_UNKNOWN"},
    {161, "OutputRasterGraphicType", K::Name, "KVGFX_PNG"},
    {162, "OutputVectorGraphicType", K::Name, "KVGFX_WMF"},
    {159, "SATableBorder", K::Name, "SA_BaseOnDocument"},
    {46, "szBaseURL", K::Text, ""},
    {48, "szDefaultOutputDirectory", K::Text, ""},
    {52, "szJavaArchive", K::Text, ""},
    {51, "szJavaURL", K::Text, ""},
    {47, "szMainURL", K::Text, ""},
    {49, "szPicPath", K::Text, ""},
    {50, "szPicURL", K::Text, ""},
    {152, "FontSizeMap", K::FontSize, "", 0, 8},
    {153, "FontSizeMap", K::FontSize, "", 1, 10},
    {154, "FontSizeMap", K::FontSize, "", 2, 12},
    {155, "FontSizeMap", K::FontSize, "", 3, 14},
    {156, "FontSizeMap", K::FontSize, "", 4, 18},
    {157, "FontSizeMap", K::FontSize, "", 5, 24},
    {158, "FontSizeMap", K::FontSize, "", 6, 36},
};

constexpr IniOptionRow kContentsRows[] = {
    {77, "bAllowHeadingsInTables", K::Flag, "FALSE"},
    {174, "headingCreateType", K::Name, ""},
};

// The keys of "KVHTMLHeadingInfo", each a list for the levels H1 to H6, in
// the order of the rows of one level; the id is the level's base id (78 for
// H1, 12 more for each further level) plus the offset.
constexpr int32_t kHeadingLevels = 6;
constexpr int32_t kFirstHeadingID = 78;
constexpr int32_t kHeadingIDStep = 12;
constexpr IniOptionRow kHeadingRows[] = {
    {0, "bMustBeBold", K::Flag, "FALSE"},
    {1, "bMustBeItalic", K::Flag, "FALSE"},
    {2, "bMustBeUnderlined", K::Flag, "FALSE"},
    {3, "bNonZeroIndent", K::Flag, "FALSE"},
    {5, "bNoMultiSpaces", K::Flag, "FALSE"},
    {4, "bNoTabs", K::Flag, "FALSE"},
    {11, "fontSizeMax", K::Number, ""},
    {10, "fontSizeMin", K::Number, ""},
    {9, "maxParaLen", K::Number, ""},
    {8, "minParaLen", K::Number, ""},
    {6, "mSpaceBefore", K::Number, ""},
    {7, "mSpaceAfter", K::Number, ""},
};

constexpr int32_t kStyleOptionID = 180;

// Every key defaults to "KVCS_UNKNOWN", so a missing text key gives that text.
constexpr const char* kTrackChangesDefault = "KVCS_UNKNOWN";
constexpr IniOptionRow kTrackChangesTextRows[] = {
    {240, "HLStartBlock", K::Text, kTrackChangesDefault},
    {241, "HLEndBlock", K::Text, kTrackChangesDefault},
    {244, "RMStartBlock", K::Text, kTrackChangesDefault},
    {245, "RMEndBlock", K::Text, kTrackChangesDefault},
    {242, "RMInsPre", K::Text, kTrackChangesDefault},
    {243, "RMDelPre", K::Text, kTrackChangesDefault},
};
constexpr int32_t kAuthorStyleCountID = 246;
constexpr int32_t kAuthorStylesID = 247;
constexpr int32_t kRMSummaryID = 248;

template <class T, size_t N>
constexpr size_t CountOf(const T (&)[N]) {
  return N;
}

// The rows that every load makes, whatever the file holds.
constexpr size_t kFixedConversionRows = CountOf(kTemplateRows) + CountOf(kOptionRows) + CountOf(kContentsRows) +
                                        kHeadingLevels * CountOf(kHeadingRows) + CountOf(kTrackChangesTextRows) + 3;
static_assert(kFixedConversionRows == 185, "51 template, 51 option, 74 contents and 9 track-changes rows");

// The extra row of every set: setting 1 of its engine 8.
constexpr int32_t kEngineProfileOptionID = 226;

}  // namespace ConversionOptionTables
