#include "updater/installer_publisher.h"

namespace updater {

// The build passes this in; see network.cmake.
const char* installerPublisherPins() { return ORVANE_INSTALLER_PUBLISHER; }

}  // namespace updater
