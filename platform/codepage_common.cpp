#include "platform/codepage.h"

#include <array>

namespace platform {

namespace {

struct LanguageCodePage {
    std::string_view language;
    unsigned codePage;
};

// The ANSI code pages of the Windows locales for each language, as Wine
// derives them from the Unix locale.
constexpr std::array kLanguageCodePages{
    LanguageCodePage{"ja", 932},   LanguageCodePage{"ko", 949},   LanguageCodePage{"th", 874},
    LanguageCodePage{"vi", 1258},  LanguageCodePage{"el", 1253},  LanguageCodePage{"tr", 1254},
    LanguageCodePage{"az", 1254},  LanguageCodePage{"uz", 1254},  LanguageCodePage{"he", 1255},
    LanguageCodePage{"iw", 1255},  LanguageCodePage{"ar", 1256},  LanguageCodePage{"fa", 1256},
    LanguageCodePage{"ur", 1256},  LanguageCodePage{"ps", 1256},  LanguageCodePage{"ug", 1256},
    LanguageCodePage{"et", 1257},  LanguageCodePage{"lv", 1257},  LanguageCodePage{"lt", 1257},
    LanguageCodePage{"cs", 1250},  LanguageCodePage{"hu", 1250},  LanguageCodePage{"pl", 1250},
    LanguageCodePage{"ro", 1250},  LanguageCodePage{"sk", 1250},  LanguageCodePage{"sl", 1250},
    LanguageCodePage{"hr", 1250},  LanguageCodePage{"sq", 1250},  LanguageCodePage{"bs", 1250},
    LanguageCodePage{"hsb", 1250}, LanguageCodePage{"dsb", 1250}, LanguageCodePage{"ru", 1251},
    LanguageCodePage{"uk", 1251},  LanguageCodePage{"be", 1251},  LanguageCodePage{"bg", 1251},
    LanguageCodePage{"mk", 1251},  LanguageCodePage{"sr", 1251},  LanguageCodePage{"kk", 1251},
    LanguageCodePage{"ky", 1251},  LanguageCodePage{"tt", 1251},  LanguageCodePage{"mn", 1251},
    LanguageCodePage{"ba", 1251},  LanguageCodePage{"sah", 1251}, LanguageCodePage{"tg", 1251},
};

}  // namespace

unsigned ansiCodePageForLocale(std::string_view locale) {
    std::string_view modifier;
    if (const auto at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    const auto underscore = locale.find('_');
    const std::string_view language = locale.substr(0, underscore);
    const std::string_view territory = underscore == std::string_view::npos ? std::string_view() : locale.substr(underscore + 1);

    if (language == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? 950 : 936;
    if (language == "sr" && modifier == "latin") return 1250;
    for (const auto& entry : kLanguageCodePages)
        if (entry.language == language) return entry.codePage;
    return 1252;
}

}  // namespace platform
