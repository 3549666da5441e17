// Removal of what ended client instances left behind.
#pragma once

#include <cstdint>

namespace updater {

// Deletes the lock records of ended instances together with the file each
// names; with no instance running, also the package lock folder under the
// current directory.
void cleanStaleLocks();

bool isProcessIdRunning(std::uint32_t pid);
bool isClientRunning();

}  // namespace updater
