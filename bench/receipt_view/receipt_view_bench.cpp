// Time to draw a 200-line receipt with 40 barcodes on 80 mm paper (target:
// under 50 ms), and to write its PNG; medians of 30 runs, after one warm-up
// run that also fills the glyph cache, as a long-lived viewer would have it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "receipt_view/markup_bytes.h"
#include "receipt_view/receipt_view.h"

namespace {

using binding::Route;
using Clock = std::chrono::steady_clock;

double medianMs(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

}  // namespace

int main() {
    std::string receipt = "<p_s><c1>Orvane Shell\n<h1>\n";
    for (int line = 0; line < 200; ++line) {
        char text[64];
        std::snprintf(text, sizeof text, "Item %03d  Noodles x%d        %6.2f\n", line, line % 5 + 1, line * 1.25);
        receipt += text;
        if (line % 5 == 4) {
            // Alternately code set B (letters) and code set C (20 digits).
            std::snprintf(text, sizeof text, line % 10 == 4 ? "<bc>ORD-%08d" : "<bc>%020d", line);
            receipt += text;
            receipt += "<h1>\n";
        }
    }
    receipt += "<p_e>";
    const std::string bytes = receipt_view::markupBytes(receipt, Route::Device);

    std::string error;
    const auto glyphs = receipt_view::Glyphs::openDefault(error);
    if (!glyphs) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const receipt_view::Paper paper = *receipt_view::paperForMillimetres(80);
    receipt_view::Rendering rendering = receipt_view::render(bytes, paper, *glyphs);
    std::vector<double> draw, png;
    for (int run = 0; run < 30; ++run) {
        const auto start = Clock::now();
        receipt_view::render(bytes, paper, *glyphs, rendering);
        const auto drawn = Clock::now();
        if (!receipt_view::writePng(rendering.picture, "/tmp/receipt_view_bench.png", error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        const auto written = Clock::now();
        draw.push_back(std::chrono::duration<double, std::milli>(drawn - start).count());
        png.push_back(std::chrono::duration<double, std::milli>(written - drawn).count());
    }
    std::printf("%zu bytes, %d x %d dots, %zu barcodes, %zu problems\n", bytes.size(), rendering.picture.width,
                rendering.picture.height, rendering.barcodeRows.size(), rendering.problems.size());
    std::printf("draw: median %.2f ms (target < 50 ms); PNG: median %.2f ms\n", medianMs(draw), medianMs(png));
    return rendering.barcodeRows.size() == 40 && rendering.problems.empty() ? 0 : 1;
}
