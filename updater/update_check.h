// The hourly update check and installation.
#pragma once

#include <string>
#include <string_view>

namespace updater {

// Asks the upgrade service for the current version; when it names another
// one, downloads, verifies and starts its installer.
void checkForUpdate();

// The upgrade request: a JSON object printed without white space.
std::string upgradeRequestBody();

// True when orvane.ini asks for the testing endpoint ("ORVANE" / "ENV" is
// exactly "testing").
bool usesTestingEndpoint();

// A version the service offers becomes part of a file name: it must be one
// plain name component that every system accepts.
bool isUsableVersionText(std::wstring_view version);

// A secure address fetched over plain HTTP: a leading "https" scheme becomes
// "http"; any other address stays as it is.
std::string plainHttpAddress(std::string_view url);

// The command line that starts `program` with no arguments: its path, quoted
// when it holds a blank so the system cannot take a shorter path for it.
std::wstring quotedProgramName(const std::wstring& program);

}  // namespace updater
