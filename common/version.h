#pragma once

// The version of launcher and updater, written to the settings file and sent
// to the services.
inline constexpr wchar_t kOrvaneVersion[] = L"1.2.0";
inline constexpr char kOrvaneVersionA[] = "1.2.0";
