#include "updater/endpoints.h"

namespace updater {

// The build passes these in; see network.cmake.
const char* upgradeProductionUrl() { return ORVANE_UPGRADE_PRODUCTION_URL; }
const char* upgradeTestingUrl() { return ORVANE_UPGRADE_TESTING_URL; }
const char* reportHost() { return ORVANE_REPORT_HOST; }

}  // namespace updater
