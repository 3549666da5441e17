// The receipt designer served on loopback: one page, and the calls it makes.
//   GET  /                                      the page
//   POST /receipt?route=R&paper=P&codepage=C    the text in the body -> JSON (bytes, picture, warnings, ...)
//   POST /picture?route=R&paper=P&codepage=C    the same -> the picture as PNG
// R is device or spooler, P 58 or 80, C 936 or 1252. Each request stands
// alone; a worker pool answers them, sharing nothing but cached glyphs.
#pragma once

#include <ostream>

namespace receipt_view {

// Listens on 127.0.0.1:`port` (any free port for 0), writes the page's
// address to `out`, and serves until SIGINT or SIGTERM. Gives 0 after such
// a stop and 1, with the reason on `err`, when it cannot start.
int serveDesigner(int port, std::ostream& out, std::ostream& err);

}  // namespace receipt_view
