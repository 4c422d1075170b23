#include "general/language_tables.h"

// "es-hn" comes twice; its first value stands.
const LanguageLCID kLanguageLCIDs[146] = {
    {"af", 0x0436}, {"sq", 0x041C}, {"ar", 0x0401}, {"ar-sa", 0x0401}, {"ar-iq", 0x0801}, {"ar-eg", 0x0C01},
    {"ar-ly", 0x1001}, {"ar-dz", 0x1401}, {"ar-ma", 0x1801}, {"ar-tn", 0x1C01}, {"ar-om", 0x2001}, {"ar-ye", 0x2401},
    {"ar-sy", 0x2801}, {"ar-jo", 0x2C01}, {"ar-lb", 0x3001}, {"ar-kw", 0x3401}, {"ar-ae", 0x3801}, {"ar-bh", 0x3C01},
    {"ar-qa", 0x4001}, {"as", 0x044D}, {"az", 0x042C}, {"bn", 0x0445}, {"eu", 0x042D}, {"bg", 0x0402}, {"be", 0x0423},
    {"ca", 0x0403}, {"div", 0x0465}, {"zh-tw", 0x0404}, {"zh-cn", 0x0804}, {"zh-hk", 0x0C04}, {"zh-sg", 0x1004},
    {"hr", 0x041A}, {"cs", 0x0405}, {"da", 0x0406}, {"da-dk", 0x0406}, {"nl", 0x0413}, {"nl-nl", 0x0413},
    {"nl-be", 0x0813}, {"en", 0x0409}, {"en-us", 0x0409}, {"en-gb", 0x0809}, {"en-au", 0x0C09}, {"en-ca", 0x1009},
    {"en-nz", 0x1409}, {"en-ie", 0x1809}, {"en-za", 0x1C09}, {"en-jm", 0x2009}, {"en-bz", 0x2809}, {"en-tt", 0x2C09},
    {"en-zw", 0x3009}, {"et", 0x0425}, {"fo", 0x0438}, {"fa", 0x0429}, {"fi", 0x040B}, {"fi-fi", 0x040B},
    {"fr", 0x040C}, {"fr-fr", 0x040C}, {"fr-be", 0x080C}, {"fr-ca", 0x0C0C}, {"fr-ch", 0x100C}, {"fr-lu", 0x140C},
    {"fr-mc", 0x180C}, {"mk", 0x042F}, {"gd", 0x0456}, {"de", 0x0407}, {"de-de", 0x0407}, {"de-ch", 0x0807},
    {"de-at", 0x0C07}, {"de-lu", 0x1007}, {"de-li", 0x1407}, {"el", 0x0408}, {"el-gr", 0x0408}, {"he", 0x040D},
    {"he-il", 0x040D}, {"hi", 0x0439}, {"hy", 0x042B}, {"hu", 0x040E}, {"hu-hu", 0x040E}, {"is", 0x040F},
    {"in", 0x0421}, {"it", 0x0410}, {"it-it", 0x0410}, {"it-ch", 0x0810}, {"ja", 0x0411}, {"ja-jp", 0x0411},
    {"ka", 0x0437}, {"ko", 0x0412}, {"kn", 0x044B}, {"kk", 0x043F}, {"kz", 0x0440}, {"lv", 0x0426}, {"lt", 0x0427},
    {"ms", 0x043E}, {"ml", 0x044C}, {"nb-no", 0x0414}, {"no", 0x0414}, {"nn-no", 0x0814}, {"pl", 0x0415},
    {"pt-br", 0x0416}, {"pt", 0x0816}, {"pt-pt", 0x0816}, {"rm", 0x0417}, {"ro", 0x0418}, {"ro-mo", 0x0418},
    {"ru", 0x0419}, {"ru-mo", 0x0419}, {"sz", 0x043B}, {"sr", 0x0C1A}, {"sk", 0x041B}, {"sl", 0x0424}, {"sb", 0x042E},
    {"es", 0x040A}, {"es-es", 0x040A}, {"es-mx", 0x080A}, {"es-gt", 0x100A}, {"es-cr", 0x140A}, {"es-pa", 0x180A},
    {"es-do", 0x1C0A}, {"es-ve", 0x200A}, {"es-co", 0x240A}, {"es-pe", 0x280A}, {"es-ar", 0x2C0A}, {"es-ec", 0x300A},
    {"es-c", 0x340A}, {"es-py", 0x3C0A}, {"es-bo", 0x400A}, {"es-sv", 0x440A}, {"es-hn", 0x480A}, {"es-hn", 0x4C0A},
    {"es-pr", 0x500A}, {"sx", 0x0430}, {"sv", 0x041D}, {"sv-se", 0x041D}, {"sv-fi", 0x081D}, {"th", 0x041E},
    {"ts", 0x0431}, {"tn", 0x0432}, {"tr", 0x041F}, {"tr-tr", 0x041F}, {"uk", 0x0422}, {"ur", 0x0420}, {"ve", 0x0433},
    {"vi", 0x042A}, {"xh", 0x0434}, {"ji", 0x043D}, {"zu", 0x0435},
};

const SupportedLanguage kSupportedLanguages[26] = {
    {"en", "en"},       {"fr", "fr"},       {"de", "de"},       {"es", "es"},       {"pt-br", "pt-br"},
    {"pt", "pt"},       {"da", "da"},       {"sv", "sv"},       {"hu", "hu"},       {"fi", "fi"},
    {"he", "he"},       {"it", "it"},       {"ar", "ar"},       {"ja", "ja"},       {"no", "no"},
    {"nb-no", "no"},    {"nn-no", "no"},    {"zh-cn", "chs"},   {"zh-mo", "cht"},   {"zh-sg", "chs"},
    {"zh-tw", "cht"},   {"zh-hk", "chs"},   {"zh", "cht"},      {"tr", "tr"},       {"nl", "nl"},
    {"el", "el"},
};

bool FindLanguagePrefix::operator()(ci_string_view entry) const {
  for (const auto& [tag, code] : m_table) {
    const bool matches = tag.empty() || (!entry.empty() && tag.size() <= entry.size() &&
                                         entry.substr(0, tag.size()) == ci_string_view(tag.data(), tag.size()));
    if (matches) {
      m_language = code;
      return true;
    }
  }
  return false;
}
