// A virtual receipt printer: draws the ESC/POS bytes a 203-dpi thermal
// printer receives as that printer would put them on paper, and says what it
// met on the way (every command, and every byte it could not draw).
//
// Text: single-byte characters in Font A (12 x 24 dots); a byte 0x81-0xFE
// and its trail byte are one character of code page 936 in 24 x 24 dots, as
// a printer sold for the Chinese market takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace receipt_view {

inline constexpr int kDotsPerMillimetre = 8;  // 203 dpi

// The paper's full width and the printable band centred on it, in dots.
struct Paper {
    int width = 0;
    int printable = 0;
};

// 58 mm (384 printable dots) and 80 mm (576); nothing for other widths.
std::optional<Paper> paperForMillimetres(int millimetres);

// One byte per dot, row by row.
enum Shade : std::uint8_t { kPaper = 0, kInk = 1, kCutLine = 2, kGap = 3 };

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> dots;

    std::uint8_t at(int x, int y) const { return dots[static_cast<std::size_t>(y) * width + x]; }
};

struct Event {
    std::size_t offset = 0;  // of the command's first byte in the input
    std::string what;
    int row = 0;             // how far down the paper the printer was when it met it
};

struct Rendering {
    Picture picture;
    std::vector<int> cutRows;       // the row of each cut line
    std::vector<Event> commands;    // every command and run of text, in order
    std::vector<Event> problems;    // what was skipped or could not be drawn
    std::vector<int> barcodeRows;   // the top row of each drawn barcode
};

// Glyphs from one outline font face through FreeType, rendered once each to
// its cell (12 x 24 dots for single-byte characters, 24 x 24 for double-byte
// ones) and kept.
class Glyphs {
public:
    // The face whose family name is `family` in the font file at `path`
    // (the first face when `family` is empty); nothing, with `error` set,
    // when the file cannot be opened or holds no such face.
    static std::unique_ptr<Glyphs> open(const std::string& path, std::string_view family, std::string& error);
    // The font this build draws with: $ORVANE_RECEIPT_FONT or the default.
    static std::unique_ptr<Glyphs> openDefault(std::string& error);

    virtual ~Glyphs() = default;

    struct Cell {
        int width = 0;
        int height = 0;
        bool found = false;  // false: the face has no glyph, the cell holds a box
        std::vector<std::uint8_t> dots;
    };
    virtual const Cell& cell(char32_t character, int width) = 0;
};

inline constexpr std::string_view kDefaultFontPath = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc";
inline constexpr std::string_view kDefaultFontFamily = "WenQuanYi Zen Hei Mono";

Rendering render(std::string_view bytes, const Paper& paper, Glyphs& glyphs);
// The same into `out`, whose buffers are kept for reuse: a long-lived viewer
// pays for a picture's memory once, not on every drawing.
void render(std::string_view bytes, const Paper& paper, Glyphs& glyphs, Rendering& out);

// Writes an 8-bit grey PNG; false with `error` set when it cannot.
bool writePng(const Picture& picture, const std::string& path, std::string& error);
// The same PNG into `png`; `scratch` holds the packed rows, and may be kept
// between calls for its memory.
bool encodePng(const Picture& picture, std::string& png, std::vector<std::uint8_t>& scratch, std::string& error);

// A coarse terminal picture: one character for each block of dots, darker
// characters for more ink.
std::string textPreview(const Picture& picture, int columns);

}  // namespace receipt_view
