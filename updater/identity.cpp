#include "updater/identity.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <regex>
#include <vector>

#include "platform/files.h"
#include "common/guid.h"
#include "platform/system_info.h"
#include "common/text.h"
#include "common/version.h"

namespace updater {

namespace {

// Bytes of the ID file that the User-Agent check looks at.
constexpr std::size_t kIdReadLimit = 128;
// The User-Agent is formed in a buffer of this many bytes, terminator included.
constexpr std::size_t kUserAgentBuffer = 256;

std::optional<std::wstring> idFilePath() {
    auto path = platform::localAppDataFolder();
    if (!path || !platform::pathAppend(*path, L"KestoOrvane") || !platform::pathAppend(*path, L"uuid"))
        return std::nullopt;
    return path;
}

// Never stored: the launcher alone writes the ID file.
std::string freshId() {
    std::wstring id;
    common::makeGuidString(&id);
    return common::narrowText(id);
}

// The bytes up to the first line feed; a carriage return before it stays.
std::optional<std::string> readFirstLine(const std::wstring& path) {
    auto file = platform::File::open(path, platform::File::Disposition::OpenExisting, false);
    if (!file.isOpen()) return std::nullopt;
    std::string line;
    std::vector<char> block(4096);
    while (true) {
        const auto got = file.read(block.data(), block.size());
        if (!got || *got == 0) return line;
        const std::string_view chunk(block.data(), *got);
        const auto end = chunk.find('\n');
        line.append(chunk.substr(0, end));
        if (end != std::string_view::npos) return line;
    }
}

// The stored ID when it passes the check. A file that was opened but whose
// content cannot be read or fails the check is deleted.
std::optional<std::string> checkedStoredId() {
    const auto path = idFilePath();
    if (!path || !platform::isRegularFile(*path)) return std::nullopt;
    std::string candidate;
    {
        auto file = platform::File::open(*path, platform::File::Disposition::OpenAlways, true);
        if (!file.isOpen()) return std::nullopt;
        std::string buffer(kIdReadLimit, '\0');
        if (const auto got = file.read(buffer.data(), buffer.size())) {
            buffer.resize(*got);
            candidate = buffer.substr(0, buffer.find('\0'));
        }
    }
    if (isInstallIdText(candidate)) return candidate;
    platform::deleteFile(*path);
    return std::nullopt;
}

}  // namespace

bool isInstallIdText(std::string_view text) {
    static const std::regex pattern("[0-F]{8}-[0-F]{4}-[0-F]{4}-[0-F]{4}-[0-F]{12}", std::regex::ECMAScript);
    return std::regex_match(text.begin(), text.end(), pattern);
}

std::string readDeviceId() {
    if (const auto path = idFilePath(); path && platform::isRegularFile(*path)) {
        if (auto line = readFirstLine(*path); line && !line->empty()) return *line;
    }
    return freshId();
}

std::string buildUserAgent() {
    auto stored = checkedStoredId();
    std::string id = stored ? std::move(*stored) : freshId();
    for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    std::string agent = "Tovrin/1 PC/1 " + osVersionString() + " Halvex/" + common::kOrvaneVersionA + " ID/" + id;
    if (agent.size() >= kUserAgentBuffer) agent.resize(kUserAgentBuffer - 1);
    return agent;
}

std::string osVersionString() {
    const platform::OsVersion v = platform::osVersion();
    std::string text = common::narrowText(v.name) + "/" + std::to_string(v.major) + "." + std::to_string(v.minor);
    if (v.is64BitHost) text += "_x64";
    return text;
}

std::string macAddressList() {
    const auto adapters = platform::adapterHardwareAddresses();
    if (!adapters) return {};
    std::string text;
    char byte[4];
    for (const auto& address : *adapters) {
        for (std::size_t i = 0; i < address.size(); ++i) {
            std::snprintf(byte, sizeof byte, i + 1 < address.size() ? "%.2X-" : "%.2X,", address[i]);
            text += byte;
        }
    }
    return text;
}

}  // namespace updater
