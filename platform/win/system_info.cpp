#include "platform/system_info.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>

#include <cstdlib>

namespace platform {

std::optional<Guid> createGuid() {
    GUID g = {};
    if (FAILED(CoCreateGuid(&g))) return std::nullopt;
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    for (int i = 0; i < 8; ++i) out.data4[i] = g.Data4[i];
    return out;
}

OsVersion osVersion() {
    OsVersion v;
    v.name = L"Windows";
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(&info)) {
#pragma GCC diagnostic pop
        v.major = info.dwMajorVersion;
        v.minor = info.dwMinorVersion;
    }
    HMODULE kernel = LoadLibraryW(L"kernel32.dll");
    if (kernel == nullptr) return v;
    using IsWow64Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto isWow64 = reinterpret_cast<IsWow64Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    if (isWow64 != nullptr) {
        BOOL wow = FALSE;
        if (isWow64(GetCurrentProcess(), &wow)) v.is64BitHost = wow != FALSE;
    }
    FreeLibrary(kernel);
    return v;
}

std::optional<std::vector<std::vector<std::uint8_t>>> adapterHardwareAddresses() {
    ULONG size = sizeof(IP_ADAPTER_INFO);
    auto* info = static_cast<IP_ADAPTER_INFO*>(std::malloc(size));
    if (info == nullptr) return std::vector<std::vector<std::uint8_t>>{};
    if (GetAdaptersInfo(info, &size) == ERROR_BUFFER_OVERFLOW) {
        std::free(info);
        info = static_cast<IP_ADAPTER_INFO*>(std::malloc(size));
        if (info == nullptr) return std::vector<std::vector<std::uint8_t>>{};
    }
    if (GetAdaptersInfo(info, &size) != NO_ERROR) {
        std::free(info);
        return std::nullopt;
    }
    std::vector<std::vector<std::uint8_t>> out;
    for (IP_ADAPTER_INFO* a = info; a != nullptr; a = a->Next) out.emplace_back(a->Address, a->Address + a->AddressLength);
    std::free(info);
    return out;
}

}  // namespace platform
