# Build-time settings shared by the programs.
set(ORVANE_VERSION_TEXT "1.2.0" CACHE STRING "Version of launcher and updater")
