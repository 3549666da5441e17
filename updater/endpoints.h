// The addresses of the services the updater talks to, fixed when it is built.
#pragma once

namespace updater {

// Whole plain-HTTP addresses ending in "/upgrade".
const char* upgradeProductionUrl();
const char* upgradeTestingUrl();
// Host of the launch-statistics service, optionally with ":port".
const char* reportHost();

}  // namespace updater
