#include "addon_log.h"

#include <chrono>

#include "files.h"
#include "named_lock.h"

namespace addon_log {

namespace {

// Long enough for any writer that is alive to finish its line; a holder that
// hangs costs each later line this much, and the line is written regardless.
constexpr std::chrono::milliseconds kLockWait{2000};

void appendLimited(std::string& out, std::string_view piece, std::size_t limit) {
    if (out.size() < limit) out.append(piece.substr(0, limit - out.size()));
}

std::string digits(unsigned long long value, unsigned base, bool upper) {
    const char* symbols = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), symbols[value % base]);
        value /= base;
    } while (value != 0);
    return text;
}

}  // namespace

namespace detail {

std::string render(std::string_view format, std::span<const Argument> arguments, std::size_t limit) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size() && out.size() < limit; ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        if (format[++i] == '%') {
            out += '%';
            continue;
        }
        bool left = false;
        bool zeros = false;
        for (; format[i] == '-' || format[i] == '0'; ++i) (format[i] == '-' ? left : zeros) = true;
        std::size_t width = 0;
        for (; format[i] >= '0' && format[i] <= '9'; ++i) width = width * 10 + static_cast<std::size_t>(format[i] - '0');
        while (format[i] == 'l') ++i;

        const Argument& argument = arguments[next++];
        std::string field;
        bool negative = false;
        switch (format[i]) {
        case 's': field = std::string(argument.text); break;
        case 'c': field = std::string(1, static_cast<char>(argument.asUnsigned)); break;
        case 'u': field = digits(argument.asUnsigned, 10, false); break;
        case 'x': field = digits(argument.asUnsigned, 16, false); break;
        case 'X': field = digits(argument.asUnsigned, 16, true); break;
        default:
            negative = argument.asSigned < 0;
            field = digits(negative ? 0 - static_cast<unsigned long long>(argument.asSigned)
                                    : static_cast<unsigned long long>(argument.asSigned),
                           10, false);
        }
        const bool numeric = format[i] != 's' && format[i] != 'c';
        const std::size_t length = field.size() + (negative ? 1 : 0);
        const std::size_t padding = width > length ? width - length : 0;
        if (left) {
            if (negative) field.insert(field.begin(), '-');
            field.append(padding, ' ');
        } else if (zeros && numeric) {
            field.insert(0, padding, '0');
            if (negative) field.insert(field.begin(), '-');
        } else {
            if (negative) field.insert(field.begin(), '-');
            field.insert(0, padding, ' ');
        }
        appendLimited(out, field, limit);
    }
    if (out.size() > limit) out.resize(limit);
    return out;
}

std::string composeLine(const platform::LocalTime& when, std::string_view category, std::string_view message) {
    std::string line = formatMessage<int, int, int, int, int, int>("[%2d-%2d %2d:%2d:%2d_%3d]", when.month, when.day,
                                                                   when.hour, when.minute, when.second,
                                                                   when.milliseconds);
    if (!category.empty()) line += formatMessage<std::string_view>("[%s]", category);
    line += message;
    return line;
}

void appendLine(std::string_view category, std::string_view message) {
    static platform::NamedMutex lock(L"XDUPLOG");
    const std::wstring& path = logPath();
    // A hold that timed out still writes: losing no line matters more than
    // the rare interleaving with a writer that hangs.
    const auto hold = lock.lock(kLockWait);
    const std::string line = composeLine(platform::localTimeNow(), category, message);
    // Written as a text-mode stream writes it on Windows: every line feed,
    // the one that ends the line included, becomes CR LF.
    std::string bytes;
    bytes.reserve(line.size() + 2);
    for (const char c : line) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    bytes += "\r\n";
    if (!path.empty()) platform::appendToFile(path, bytes.data(), bytes.size());
}

}  // namespace detail

const std::wstring& logPath() {
    static const std::wstring path = [] {
        std::wstring folder = platform::executablePath();
        const auto cut = folder.find_last_of(platform::kPathSeparator);
        folder.resize(cut == std::wstring::npos ? 0 : cut + 1);
        if (folder.empty() || !platform::pathAppend(folder, L"log") || !platform::pathAppend(folder, L"kesto.log"))
            return std::wstring();
        return folder;
    }();
    return path;
}

}  // namespace addon_log
