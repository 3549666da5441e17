#include "platform/files.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

namespace platform {

std::optional<std::wstring> localAppDataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, buffer);
    if (FAILED(hr)) {
        SetLastError(HRESULT_CODE(hr));
        return std::nullopt;
    }
    return std::wstring(buffer);
}

std::wstring currentDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

std::wstring executablePath() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, n);
}

std::wstring tempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return n > 0 && n <= MAX_PATH ? std::wstring(buffer, n) : std::wstring();
}

bool pathAppend(std::wstring& path, std::wstring_view more) {
    wchar_t buffer[MAX_PATH] = {};
    if (path.size() >= MAX_PATH) return false;
    path.copy(buffer, path.size());
    const std::wstring tail(more);
    if (!PathAppendW(buffer, tail.c_str())) return false;
    path = buffer;
    return true;
}

bool pathExists(const std::wstring& path) { return PathFileExistsW(path.c_str()) != FALSE; }

bool isDirectory(const std::wstring& path) { return PathIsDirectoryW(path.c_str()) != FALSE; }

bool isRegularFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool allowOwnerExecute(const std::wstring&) { return true; }

bool createDirectories(const std::wstring& path) {
    return SHCreateDirectoryExW(nullptr, path.c_str(), nullptr) == ERROR_SUCCESS;
}

bool deleteFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }

bool removeTree(const std::wstring& path) {
    // The source list ends with two zero characters.
    std::wstring from = path;
    from.push_back(L'\0');
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;  // 0x414
    return SHFileOperationW(&op) == 0;
}

bool appendToFile(const std::wstring& path, const void* data, std::size_t size) {
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = size == 0 || WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(h);
    return ok && written == size;
}

long lastErrorCode() { return static_cast<long>(GetLastError()); }

std::optional<std::vector<DirEntry>> listDirectory(const std::wstring& folder, const std::wstring& pattern) {
    std::wstring search = folder;
    if (!pathAppend(search, pattern)) return std::nullopt;
    WIN32_FIND_DATAW data = {};
    HANDLE find = FindFirstFileW(search.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<DirEntry> entries;
    do {
        entries.push_back({data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return entries;
}

File File::open(const std::wstring& path, Disposition disposition, bool writeAccess) {
    const DWORD access = GENERIC_READ | (writeAccess ? GENERIC_WRITE : 0);
    const DWORD how = disposition == Disposition::OpenAlways ? OPEN_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return File();
    return File(reinterpret_cast<std::intptr_t>(h));
}

void SystemHandleTraits::close(std::intptr_t handle) noexcept { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

bool File::write(const void* data, std::size_t size) {
    if (!isOpen()) return false;
    DWORD written = 0;
    return WriteFile(reinterpret_cast<HANDLE>(handle_.get()), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    if (!isOpen()) return std::nullopt;
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_.get()), buffer, static_cast<DWORD>(size), &got, nullptr))
        return std::nullopt;
    return static_cast<std::size_t>(got);
}

}  // namespace platform
