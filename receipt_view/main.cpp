// orvane_receipt_view: draws what a receipt printer receives as a PNG.
//   --escpos FILE                        raw bytes (a capture, a CUPS job, a device dump)
//   --markup FILE --route device|spooler a receipt in the mark-up, encoded as the add-on does
//   --paper 58|80  -o OUT.png  [--report] [--preview] [--write-bytes FILE]
//   --serve [--port N]                   the receipt designer, a page on 127.0.0.1
// --write-bytes keeps the bytes drawn, e.g. to send them to a real printer
// with lp -o raw.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "receipt_view/designer_server.h"
#include "receipt_view/markup_bytes.h"
#include "receipt_view/receipt_view.h"

namespace {

constexpr const char* kUsage =
    "usage: orvane_receipt_view (--escpos FILE | --markup FILE --route device|spooler)\n"
    "                           [--paper 58|80] -o OUT.png [--report] [--preview] [--write-bytes FILE]\n"
    "       orvane_receipt_view --serve [--port N]\n";

int usage(const std::string& why) {
    std::cerr << "orvane_receipt_view: " << why << "\n" << kUsage;
    return 2;
}

bool readFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream all;
    all << in.rdbuf();
    if (in.bad()) return false;
    bytes = std::move(all).str();
    return true;
}

void printEvents(const char* title, const std::vector<receipt_view::Event>& events) {
    std::cout << title << " (" << events.size() << ")\n";
    for (const auto& event : events) std::cout << "  " << event.offset << ": " << event.what << "\n";
}

}  // namespace

int main(int argc, char** argv) {
    std::string escpos, markup, route, out, bytesOut;
    int paperMm = 80;
    bool report = false, preview = false, serve = false;
    std::string port;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= argc) return false;
            into = argv[++i];
            return true;
        };
        std::string paper;
        if (arg == "--escpos") { if (!value(escpos)) return usage("--escpos needs a file"); }
        else if (arg == "--markup") { if (!value(markup)) return usage("--markup needs a file"); }
        else if (arg == "--route") { if (!value(route)) return usage("--route needs device or spooler"); }
        else if (arg == "-o") { if (!value(out)) return usage("-o needs a file"); }
        else if (arg == "--write-bytes") { if (!value(bytesOut)) return usage("--write-bytes needs a file"); }
        else if (arg == "--paper") {
            if (!value(paper) || (paper != "58" && paper != "80")) return usage("--paper is 58 or 80");
            paperMm = std::stoi(paper);
        } else if (arg == "--report") report = true;
        else if (arg == "--preview") preview = true;
        else if (arg == "--serve") serve = true;
        else if (arg == "--port") { if (!value(port)) return usage("--port needs a number"); }
        else return usage("unknown argument " + arg);
    }
    if (serve) {
        if (argc != (port.empty() ? 2 : 4)) return usage("--serve takes only --port");
        int number = 0;
        if (!port.empty() && (port.find_first_not_of("0123456789") != std::string::npos || port.size() > 5 ||
                              (number = std::stoi(port)) > 65535))
            return usage("--port is a number from 0 to 65535");
        return receipt_view::serveDesigner(number, std::cout, std::cerr);
    }
    if (!port.empty()) return usage("--port goes with --serve");
    if (escpos.empty() == markup.empty()) return usage("give one of --escpos and --markup");
    if (!markup.empty() && route != "device" && route != "spooler") return usage("--markup needs --route device or spooler");
    if (out.empty()) return usage("-o OUT.png is missing");

    const std::string& input = escpos.empty() ? markup : escpos;
    std::string bytes;
    if (!readFile(input, bytes)) {
        std::cerr << "orvane_receipt_view: cannot read " << input << "\n";
        return 1;
    }
    if (!markup.empty()) bytes = receipt_view::markupBytes(bytes, route == "device" ? binding::Route::Device : binding::Route::Spooler);

    if (!bytesOut.empty()) {
        std::ofstream saved(bytesOut, std::ios::binary);
        if (!saved.write(bytes.data(), static_cast<std::streamsize>(bytes.size())).flush()) {
            std::cerr << "orvane_receipt_view: cannot write " << bytesOut << "\n";
            return 1;
        }
    }

    std::string error;
    const auto glyphs = receipt_view::Glyphs::openDefault(error);
    if (!glyphs) {
        std::cerr << "orvane_receipt_view: " << error << "\n";
        return 1;
    }
    const receipt_view::Rendering rendering =
        receipt_view::render(bytes, *receipt_view::paperForMillimetres(paperMm), *glyphs);
    if (!receipt_view::writePng(rendering.picture, out, error)) {
        std::cerr << "orvane_receipt_view: " << error << "\n";
        return 1;
    }
    if (report) {
        printEvents("commands", rendering.commands);
        printEvents("problems", rendering.problems);
    } else {
        for (const auto& event : rendering.problems)
            std::cerr << "orvane_receipt_view: byte " << event.offset << ": " << event.what << "\n";
    }
    if (preview) std::cout << receipt_view::textPreview(rendering.picture, paperMm == 58 ? 58 : 80);
    std::cout << out << ": " << rendering.picture.width << " x " << rendering.picture.height << " dots, "
              << rendering.cutRows.size() << " cuts, " << rendering.barcodeRows.size() << " barcodes, "
              << rendering.problems.size() << " problems\n";
    return 0;
}
