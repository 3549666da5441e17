// The launcher's start-up steps, in the order the entry point calls them.
#pragma once

#include <string>

namespace launcher {

// Logs every argument of the command line, the program path included.
void scanLauncherArgs();
// Makes KestoOrvane with its uuid file and the orvane.ini entries.
void prepareInstallIdentity();
// Finds the first UserData_n folder without a lockfile and creates it.
// False when the local application-data folder cannot be found, or when no
// free slot's lockfile path fits the path limit.
bool pickUserDataSlot(std::wstring& slotFolder);
// The same search in a given KestoOrvane folder.
bool pickUserDataSlotIn(const std::wstring& kestoFolder, std::wstring& slotFolder);
// Starts the client on a free slot; failures are shown to the user.
void launchClient();
// Runs the whole start-up; the result is the process's exit status.
int launcherMain();

}  // namespace launcher
