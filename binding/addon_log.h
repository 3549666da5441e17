// The add-on's diagnostic log: one line per event, appended to
// "log/kesto.log" beside the host program's executable by every thread and
// every process that has the add-on loaded.
//
// Formats are string literals checked while compiling: each conversion must
// have an argument of a fitting type and every argument a conversion. Text
// that comes from the script or the system is therefore always an argument
// ("%s") and is written as it is, percent signs included.
//
// Conversions: %d %i %u %x %X %c for integers, %s for text (std::string,
// std::string_view, const char*; taken up to its first zero byte), %% for a
// percent sign, with the flags "-" and "0", a width and the length modifiers
// "l" and "ll" (which change nothing).
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/local_time.h"

namespace binding {

namespace addon_log {

// The part of a line that the caller's format makes is cut to this many bytes.
inline constexpr std::size_t kMaxMessageBytes = 199;
inline constexpr std::string_view kDefaultCategory = "default";

namespace detail {

enum class ArgumentKind { Integer, Text };

struct Argument {
    ArgumentKind kind;
    long long asSigned = 0;
    unsigned long long asUnsigned = 0;
    std::string_view text;
};

template <typename T>
constexpr bool isText = std::is_same_v<T, std::string> || std::is_same_v<T, std::string_view> ||
                        std::is_same_v<T, const char*> || std::is_same_v<T, char*>;

template <typename T>
consteval ArgumentKind kindOf() {
    using U = std::decay_t<T>;
    static_assert(isText<U> || std::is_integral_v<U>, "log arguments are integers or text");
    return isText<U> ? ArgumentKind::Text : ArgumentKind::Integer;
}

template <typename T>
Argument argument(const T& value) {
    using U = std::decay_t<T>;
    if constexpr (isText<U>) {
        std::string_view text;
        if constexpr (std::is_array_v<T>) {
            text = std::string_view(value, std::size(value));
        } else if constexpr (std::is_pointer_v<T>) {
            text = value != nullptr ? std::string_view(value) : std::string_view("(null)");
        } else {
            text = std::string_view(value);
        }
        return {ArgumentKind::Text, 0, 0, text.substr(0, text.find('\0'))};
    } else {
        const auto promoted = +value;
        using P = decltype(promoted);
        return {ArgumentKind::Integer, static_cast<long long>(promoted),
                static_cast<unsigned long long>(static_cast<std::make_unsigned_t<P>>(promoted)), {}};
    }
}

// Not constexpr: reaching it while a format is checked stops the compilation.
void formatDoesNotMatchArguments();

consteval void checkFormat(std::string_view format, std::span<const ArgumentKind> kinds) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i == format.size()) formatDoesNotMatchArguments();
        if (format[i] == '%') continue;
        while (i < format.size() && (format[i] == '-' || format[i] == '0')) ++i;
        while (i < format.size() && format[i] >= '0' && format[i] <= '9') ++i;
        while (i < format.size() && format[i] == 'l') ++i;
        if (i == format.size()) formatDoesNotMatchArguments();
        ArgumentKind wanted = ArgumentKind::Integer;
        switch (format[i]) {
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'c': break;
        case 's': wanted = ArgumentKind::Text; break;
        default: formatDoesNotMatchArguments();
        }
        if (used == kinds.size() || kinds[used] != wanted) formatDoesNotMatchArguments();
        ++used;
    }
    if (used != kinds.size()) formatDoesNotMatchArguments();
}

// Applies a checked format to its arguments, keeping at most `limit` bytes.
std::string render(std::string_view format, std::span<const Argument> arguments, std::size_t limit);

// Time stamp, category part and message, as one line without its end.
std::string composeLine(const platform::LocalTime& when, std::string_view category, std::string_view message);

// Queues one line for the log's writer thread, stamped with the time now;
// the writer appends the queued lines in order under the log lock, and what
// is still queued when the process exits is written then. Failures are silent.
void appendLine(std::string_view category, std::string_view message);

}  // namespace detail

// A format string whose conversions match the argument types `Args`.
template <typename... Args>
class Format {
public:
    template <std::size_t N>
    consteval Format(const char (&text)[N]) : text_(text, N - 1) {
        const std::array<detail::ArgumentKind, sizeof...(Args)> kinds{detail::kindOf<Args>()...};
        detail::checkFormat(text_, kinds);
    }
    std::string_view text() const { return text_; }

private:
    std::string_view text_;
};

template <typename... Args>
using FormatFor = Format<std::type_identity_t<Args>...>;

template <typename... Args>
std::string formatMessage(FormatFor<Args...> format, const Args&... args) {
    const std::array<detail::Argument, sizeof...(Args)> arguments{detail::argument(args)...};
    return detail::render(format.text(), arguments, kMaxMessageBytes);
}

// Writes the lines queued so far before returning.
void flush();

// For a process end where the other threads may be gone: writes what is
// queued, and from then on writes each line at once on the calling thread,
// never waiting for another thread of this process.
void writeOnCallingThread();

// The full path of the log file, worked out once from the host executable's
// folder; empty when it would be too long to open.
const std::wstring& logPath();

}  // namespace addon_log

// One line's text, without its end: "[%2d-%2d %2d:%2d:%2d_%3d]" with month,
// day, hour, minute, second and millisecond, "[category]" unless the category
// is empty, and the message.
template <typename... Args>
std::string formatLogLine(const platform::LocalTime& when, std::string_view category,
                          addon_log::FormatFor<Args...> format, const Args&... args) {
    return addon_log::detail::composeLine(when, category, addon_log::formatMessage<Args...>(format, args...));
}

template <typename... Args>
std::string formatLogLine(std::string_view category, addon_log::FormatFor<Args...> format, const Args&... args) {
    return formatLogLine<Args...>(platform::localTimeNow(), category, format, args...);
}

// Appends one line, ended by CR LF: queued at once, written in order by the
// log's writer thread while it holds the log lock that all writers share.
// Nothing is reported; the result is always 1.
template <typename... Args>
int writeLogLine(std::string_view category, addon_log::FormatFor<Args...> format, const Args&... args) {
    addon_log::detail::appendLine(category, addon_log::formatMessage<Args...>(format, args...));
    return 1;
}

template <typename... Args>
int logLine(addon_log::FormatFor<Args...> format, const Args&... args) {
    return writeLogLine<Args...>(addon_log::kDefaultCategory, format, args...);
}

}  // namespace binding
