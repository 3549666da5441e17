// The updater process: its single-instance guard and its entry.
#pragma once

namespace updater {

// Takes the guard, sends the launch report and runs the schedule; returns 0
// at once when another updater holds the guard.
int updaterMain();

// Gives up the guard, so a program started next (the installer) can start an
// updater of its own.
void closeUpdaterGuard();

}  // namespace updater
