// The hourly update check and installation.
#pragma once

// Asks the upgrade service for the current version; when it names another
// one, downloads, verifies and starts its installer.
void checkForUpdate();
