#include "settings/conversion_constants.h"

#include <cstring>

#include "common/debug_log.h"

namespace {

struct ConversionConstant {
  const char* name;
  int32_t value;
};

// The engine's own vocabulary. Where two groups share a name's number, each
// name still stands for one value only.
const ConversionConstant kConversionConstants[] = {
    // graphic types
    {"KVGFX_GIF", 0}, {"KVGFX_JPEG", 1}, {"KVGFX_PNG", 2}, {"KVGFX_CGM", 3}, {"KVGFX_WMF", 4}, {"KVGFX_JAVA", 5},
    // anchors
    {"VectorPictureAnchorEx", 0}, {"RasterPictureAnchorEx", 1}, {"H1AnchorEx", 2}, {"H2AnchorEx", 3},
    {"H3AnchorEx", 4}, {"H4AnchorEx", 5}, {"H5AnchorEx", 6}, {"H6AnchorEx", 7}, {"XAnchorEx", 8},
    {"AnimatedGIFAnchorEx", 9}, {"GeneralAnchorEx", 10},
    // heading creation
    {"KVHC_DocHeadingsOnly", 0}, {"KVHC_CreateHeadingsAlways", 1},
    // character sets
    {"KVCS_UNKNOWN", 0}, {"KVCS_SJIS", 1}, {"KVCS_GB", 2}, {"KVCS_BIG5", 3}, {"KVCS_KSC", 4}, {"KVCS_1250", 5},
    {"KVCS_1251", 6}, {"KVCS_1252", 7}, {"KVCS_1253", 8}, {"KVCS_1254", 9}, {"KVCS_1255", 10}, {"KVCS_1256", 11},
    {"KVCS_1257", 12}, {"KVCS_1258", 13}, {"KVCS_8859_1", 14}, {"KVCS_8859_2", 15}, {"KVCS_8859_3", 16},
    {"KVCS_8859_4", 17}, {"KVCS_8859_5", 18}, {"KVCS_8859_6", 19}, {"KVCS_8859_7", 20}, {"KVCS_8859_8", 21},
    {"KVCS_8859_9", 22}, {"KVCS_437", 25}, {"KVCS_737", 26}, {"KVCS_775", 27}, {"KVCS_850", 28}, {"KVCS_852", 30},
    {"KVCS_855", 31}, {"KVCS_857", 32}, {"KVCS_860", 33}, {"KVCS_861", 34}, {"KVCS_862", 35}, {"KVCS_863", 36},
    {"KVCS_864", 37}, {"KVCS_865", 38}, {"KVCS_866", 39}, {"KVCS_869", 40}, {"KVCS_874", 41},
    {"KVCS_UNICODE", 51}, {"KVCS_UTF16", 52}, {"KVCS_UTF8", 53}, {"KVCS_UTF7", 54}, {"KVCS_EUC_JP", 66},
    // output languages
    {"Language_UNKNOWN", 0}, {"Language_TRADITIONAL_CHINESE", 1}, {"Language_SIMPLIFIED_CHINESE", 2},
    {"Language_CZECH", 3}, {"Language_DANISH", 4}, {"Language_DUTCH", 5}, {"Language_ENGLISH", 6},
    {"Language_FINNISH", 7}, {"Language_FRENCH", 8}, {"Language_GERMAN", 9}, {"Language_GREEK", 10},
    {"Language_HUNGARIAN", 11}, {"Language_ICELANDIC", 12}, {"Language_ITALIAN", 13}, {"Language_JAPANESE", 14},
    {"Language_KOREAN", 15}, {"Language_NORWEGIAN", 16}, {"Language_POLISH", 17}, {"Language_PORTUGUESE", 18},
    {"Language_RUSSIAN", 19}, {"Language_SLOVAK", 20}, {"Language_SPANISH", 21}, {"Language_SWEDISH", 22},
    {"Language_TURKISH", 23}, {"Language_LAST_LANG", 24},
    // document kinds
    {"UnknownDocType", 0}, {"WordProcessor", 1}, {"Spreadsheet", 2}, {"Presentation", 3},
    // table borders
    {"SA_BaseOnDocument", 0}, {"SA_NoBorder", 1}, {"SA_Border", 2},
    // style sheets
    {"STYLESHEET_DISABLED", 0}, {"CSS_INLINE", 1}, {"CSS_TOFILE", 2},
    // style flags, one bit each
    {"KVSTYLE_PRE", 1}, {"KVSTYLE_HEADING1", 2}, {"KVSTYLE_HEADING2", 4}, {"KVSTYLE_HEADING3", 8},
    {"KVSTYLE_HEADING4", 16}, {"KVSTYLE_HEADING5", 32}, {"KVSTYLE_HEADING6", 64}, {"KVSTYLE_ORDERLIST", 128},
    {"KVSTYLE_UNORDEREDLIST", 256}, {"KVSTYLE_DELETECONTENT", 512}, {"KVSTYLE_ONCONSECUTIVEPARAGRAPHS", 1024},
    {"KVSTYLE_REDACT", 2048},
};

static_assert(sizeof(kConversionConstants) / sizeof(kConversionConstants[0]) == 110, "the engine's 110 names");

}  // namespace

int32_t ConversionConstantValue(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  for (const ConversionConstant& constant : kConversionConstants) {
    if (std::strcmp(constant.name, text) == 0) return constant.value;
  }
  DebugLog(" Unknown enumerated type, defaulted to 0\n");
  DebugLog("%s", text);
  return 0;
}
