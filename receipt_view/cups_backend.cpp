// orvane-view: a CUPS backend for a raw queue that keeps each job in a folder
// instead of printing it: orvane-view:/folder[?paper=58] writes <job>.escpos
// (the bytes as received), <job>.png (the receipt drawn) and <job>.txt (the
// commands met and what could not be drawn).
//
// Installed as /usr/lib/cups/backend/orvane-view (mode 755, so it runs as the
// scheduler's user, who must be able to write the folder).
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "receipt_view/receipt_view.h"

namespace fs = std::filesystem;

namespace {

// The exit codes the scheduler knows.
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;

bool writeWhole(const fs::path& path, const std::string& bytes) {
    const fs::path partial = path.string() + ".part";
    {
        std::ofstream out(partial, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) return false;
    }
    std::error_code error;
    fs::rename(partial, path, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) {
        // Discovery: the scheme, listed for lpinfo -v.
        std::cout << "direct orvane-view \"Orvane\" \"Orvane receipt view (draws each job as a PNG)\"\n";
        return kBackendOk;
    }
    if (argc < 6 || argc > 7) {
        std::cerr << "Usage: orvane-view job-id user title copies options [file]\n";
        return kBackendFailed;
    }
    const char* uri = std::getenv("DEVICE_URI");
    std::string target = uri != nullptr ? uri : "";
    const std::string scheme = "orvane-view:";
    if (target.rfind(scheme, 0) != 0 || target.size() == scheme.size()) {
        std::cerr << "ERROR: the device URI must be orvane-view:/folder, not \"" << target << "\"\n";
        return kBackendFailed;
    }
    target.erase(0, scheme.size());
    int paperMm = 80;
    if (const auto query = target.find('?'); query != std::string::npos) {
        const std::string option = target.substr(query + 1);
        target.erase(query);
        if (option == "paper=58") paperMm = 58;
        else if (option != "paper=80") {
            std::cerr << "ERROR: unknown option \"" << option << "\" (paper=58 or paper=80)\n";
            return kBackendFailed;
        }
    }
    const fs::path folder = target;

    std::ostringstream job;
    if (argc == 7) {
        std::ifstream in(argv[6], std::ios::binary);
        if (!in) {
            std::cerr << "ERROR: cannot read the job file " << argv[6] << "\n";
            return kBackendFailed;
        }
        job << in.rdbuf();
    } else {
        job << std::cin.rdbuf();
    }
    const std::string bytes = std::move(job).str();
    const fs::path base = folder / argv[1];
    if (!writeWhole(base.string() + ".escpos", bytes)) {
        std::cerr << "ERROR: cannot write " << base.string() << ".escpos\n";
        return kBackendFailed;
    }

    std::string error;
    const auto glyphs = receipt_view::Glyphs::openDefault(error);
    if (!glyphs) {
        std::cerr << "ERROR: " << error << "\n";
        return kBackendFailed;
    }
    const receipt_view::Rendering rendering = receipt_view::render(bytes, *receipt_view::paperForMillimetres(paperMm), *glyphs);
    std::ostringstream report;
    report << "job " << argv[1] << " \"" << argv[3] << "\" from " << argv[2] << ": " << bytes.size() << " bytes\n";
    for (const auto& event : rendering.commands) report << event.offset << ": " << event.what << "\n";
    report << "problems: " << rendering.problems.size() << "\n";
    for (const auto& event : rendering.problems) {
        report << event.offset << ": " << event.what << "\n";
        std::cerr << "WARNING: byte " << event.offset << ": " << event.what << "\n";
    }
    if (!writeWhole(base.string() + ".txt", report.str())) {
        std::cerr << "ERROR: cannot write " << base.string() << ".txt\n";
        return kBackendFailed;
    }
    // The picture last, whole or not at all: a watcher waiting for it finds the other files complete.
    const std::string png = base.string() + ".png";
    std::error_code renamed;
    if (!receipt_view::writePng(rendering.picture, png + ".part", error)) {
        std::cerr << "ERROR: " << error << "\n";
        return kBackendFailed;
    }
    fs::rename(png + ".part", png, renamed);
    if (renamed) {
        std::cerr << "ERROR: cannot write " << png << ": " << renamed.message() << "\n";
        return kBackendFailed;
    }
    std::cerr << "INFO: drew job " << argv[1] << " as " << png << "\n";
    return kBackendOk;
}
