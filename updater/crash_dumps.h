// Listing of the client's crash dumps in the updater log.
#pragma once

namespace updater {

// Logs every dump with the name it is to be reported under.
void scanCrashDumps();

}  // namespace updater
