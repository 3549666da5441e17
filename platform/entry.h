// The program entry: the platform provides the system's entry point (the
// wide GUI entry on Windows, main elsewhere) and calls programMain.
#pragma once

int programMain();
