// The launcher's start-up steps, in the order the entry point calls them.
#pragma once

#include <string>

// Logs every argument of the command line, the program path included.
void scanLauncherArgs();
// Makes KestoOrvane with its uuid file and the orvane.ini entries.
void prepareInstallIdentity();
// Finds the first UserData_n folder without a lockfile and creates it.
// False when the local application-data folder cannot be found.
bool pickUserDataSlot(std::wstring& slotFolder);
// Starts the client on a free slot; failures are shown to the user.
void launchClient();
// Runs the whole start-up; the result is the process's exit status.
int launcherMain();
