#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {

namespace {

std::string iconvName(unsigned codePage) {
    if (codePage == kAnsiCodePage) codePage = ansiCodePage();
    if (codePage == kUtf8CodePage) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd_(::iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (valid()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of `in`, putting `replacement` (bytes in the target
    // encoding) in place of each input unit of `unit` bytes that has no
    // conversion, as Windows does when it is not asked to fail.
    std::string run(std::string_view in, std::size_t unit, std::string_view replacement) {
        std::string out(in.size() * 4 + replacement.size(), '\0');
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        const auto grow = [&] {
            const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
        };
        while (inLeft > 0) {
            if (::iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) {
                grow();
                continue;
            }
            if (errno != EILSEQ && errno != EINVAL) break;
            while (outLeft < replacement.size()) grow();
            std::memcpy(outPtr, replacement.data(), replacement.size());
            outPtr += replacement.size();
            outLeft -= replacement.size();
            const std::size_t skip = inLeft < unit ? inLeft : unit;
            inPtr += skip;
            inLeft -= skip;
            ::iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(static_cast<std::size_t>(outPtr - out.data()));
        return out;
    }

private:
    iconv_t cd_;
};

}  // namespace

unsigned ansiCodePage() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') return ansiCodePageForLocale(value);
    }
    return ansiCodePageForLocale("C");
}

std::wstring codePageToWide(unsigned codePage, std::string_view bytes) {
    if (bytes.empty()) return {};
    const std::string from = iconvName(codePage);
    Converter converter("WCHAR_T", from);
    if (!converter.valid()) return {};
    const wchar_t replacement = from == "UTF-8" ? L'\uFFFD' : L'?';
    const std::string raw =
        converter.run(bytes, 1, std::string_view(reinterpret_cast<const char*>(&replacement), sizeof replacement));
    std::wstring out(raw.size() / sizeof(wchar_t), L'\0');
    std::memcpy(out.data(), raw.data(), out.size() * sizeof(wchar_t));
    return out;
}

std::string wideToCodePage(unsigned codePage, std::wstring_view text) {
    if (text.empty()) return {};
    const std::string to = iconvName(codePage);
    Converter converter(to, "WCHAR_T");
    if (!converter.valid()) return {};
    return converter.run(std::string_view(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t)),
                         sizeof(wchar_t), to == "UTF-8" ? "\xEF\xBF\xBD" : "?");
}

}  // namespace platform
