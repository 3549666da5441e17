// How the updater names the installation and the machine to the services.
#pragma once

#include <string>
#include <string_view>

namespace updater {

// The stored installation ID's first line, unchecked; a fresh, unstored ID
// when the file is missing, unreadable or empty. ANSI text.
std::string readDeviceId();

// "Tovrin/1 PC/1 <os> Halvex/<version> ID/<id>". The stored ID is checked
// here: one that fails the check is deleted and a fresh, unstored ID is used.
std::string buildUserAgent();

// "Windows/<major>.<minor>", with "_x64" for this 32-bit program on a 64-bit
// system; the kernel's name in the same shape elsewhere ("Linux/6.1").
std::string osVersionString();

// Every adapter's hardware address, bytes as "%.2X-", an adapter's last byte
// as "%.2X,"; empty when the adapters cannot be listed.
std::string macAddressList();

// The whole text is an installation ID: 8-4-4-4-12 characters of "[0-F]".
bool isInstallIdText(std::string_view text);

}  // namespace updater
