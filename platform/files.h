// Files, folders and the known folders the programs use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/owned_handle.h"

namespace platform {

// Path buffers of the shipped programs hold this many characters, the
// terminator included; longer paths are refused the way PathAppendW refuses them.
inline constexpr std::size_t kMaxPath = 260;

#ifdef _WIN32
inline constexpr wchar_t kPathSeparator = L'\\';
// Narrow file names are in the ANSI code page of the user's locale.
inline constexpr bool kUtf8FileNames = false;
#else
inline constexpr wchar_t kPathSeparator = L'/';
// Narrow file names are UTF-8 whatever the locale: that is what the system
// stores, and a locale without the characters would lose them.
inline constexpr bool kUtf8FileNames = true;
#endif

// The per-user, per-machine application-data folder; nullopt when the
// system cannot name it or it does not exist (lastErrorCode tells why).
std::optional<std::wstring> localAppDataFolder();
std::wstring currentDirectory();
// Full path of the running program's executable.
std::wstring executablePath();
// The temporary folder, ending with a separator.
std::wstring tempFolder();

// Appends one component with a single separator between, as PathAppendW does.
// Returns false, leaving `path` as it was, when the result would not fit kMaxPath.
bool pathAppend(std::wstring& path, std::wstring_view more);

bool pathExists(const std::wstring& path);
bool isDirectory(const std::wstring& path);
// An ordinary file: not a folder, and on systems that have them, not a pipe,
// socket or device either, so reading it can never wait for a writer.
bool isRegularFile(const std::wstring& path);
// Lets the file's owner run it as a program, where the system keeps such a
// permission on files; elsewhere there is nothing to do and it returns true.
bool allowOwnerExecute(const std::wstring& path);
// Creates the folder and any missing parents; false when it could not, or
// when it already existed (as SHCreateDirectoryExW reports it).
bool createDirectories(const std::wstring& path);
// Deletes one file (a link itself, never what it points to); never a folder.
bool deleteFile(const std::wstring& path);
// Deletes a folder with all its content without prompting; links inside it are
// removed, never followed.
bool removeTree(const std::wstring& path);
// Appends bytes at the end of a file, creating it when missing; the file is
// open only for the call.
bool appendToFile(const std::wstring& path, const void* data, std::size_t size);
// The calling thread's last system error code.
long lastErrorCode();

struct DirEntry {
    std::wstring name;
    bool isDirectory = false;
};
// Entries of `folder` whose names match `pattern` ("*" or "*.ext", matched
// case-insensitively as the system does), in the system's order.
// nullopt when the listing cannot start or nothing matches.
std::optional<std::vector<DirEntry>> listDirectory(const std::wstring& folder, const std::wstring& pattern);

// An open file, shared for reading with other openers; closed on destruction.
class File {
public:
    enum class Disposition {
        OpenAlways,    // create when missing
        OpenExisting,  // fail when missing
    };
    static File open(const std::wstring& path, Disposition disposition, bool writeAccess);

    File() = default;

    bool isOpen() const { return handle_.valid(); }
    // Writes all bytes at the current position.
    bool write(const void* data, std::size_t size);
    // Reads up to `size` bytes; nullopt on a read error.
    std::optional<std::size_t> read(void* buffer, std::size_t size);
    void close() { handle_.reset(); }

private:
    explicit File(std::intptr_t handle) : handle_(handle) {}
    SystemHandle handle_;
};

}  // namespace platform
