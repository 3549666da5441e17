#include <algorithm>
#include <cstdio>
#include <string>

#include "receipt_view/code128.h"
#include "platform/codepage.h"
#include "receipt_view/receipt_view.h"

namespace receipt_view {

std::optional<Paper> paperForMillimetres(int millimetres) {
    if (millimetres == 58) return Paper{58 * kDotsPerMillimetre, 384};
    if (millimetres == 80) return Paper{80 * kDotsPerMillimetre, 576};
    return std::nullopt;
}

namespace {

constexpr unsigned char ESC = 0x1B, GS = 0x1D, FS = 0x1C, DLE = 0x10;
constexpr int kMargin = 8;          // blank rows above the first line and below the last
constexpr int kStripGap = 24;       // rows between two strips, the cut line in their middle
constexpr int kDefaultSpacing = 30; // ESC 2: the printer's default line spacing in dots
constexpr int kTabDots = 8 * 12;    // default tab stops: every eight Font A characters
// The longest strip of paper drawn, 10 m: random or runaway bytes (ESC d 255
// at 255-dot spacing feeds 8 m) must not take all memory.
constexpr int kMaxRows = 10 * 1000 * kDotsPerMillimetre;
// Stands for bytes that are no character: no font has a glyph for it, so its box is drawn.
constexpr char32_t kNoCharacter = 0x10FFFD;

std::string hexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string prefixName(unsigned char prefix) {
    switch (prefix) {
        case ESC: return "ESC";
        case GS: return "GS";
        case FS: return "FS";
        case DLE: return "DLE";
        default: return hexByte(prefix);
    }
}

// Commands this picture does not draw but whose length ESC/POS fixes, so the
// bytes after them are read as the printer reads them.
struct Skippable {
    unsigned char prefix;
    unsigned char code;
    int length;  // with prefix and code
};
constexpr Skippable kSkippable[] = {
    {ESC, ' ', 3},  {ESC, '$', 4},  {ESC, '%', 3},  {ESC, '=', 3},  {ESC, '?', 3},  {ESC, '\\', 4},
    {ESC, 'G', 3},  {ESC, 'L', 2},  {ESC, 'M', 3},  {ESC, 'R', 3},  {ESC, 'S', 2},  {ESC, 'T', 3},
    {ESC, 'V', 3},  {ESC, 'W', 10}, {ESC, 'c', 4},  {ESC, 'p', 5},  {ESC, 'r', 3},  {ESC, 't', 3},
    {ESC, '{', 3},  {ESC, 'K', 3},  {ESC, 'e', 3},  {ESC, '<', 2},  {GS, 'B', 3},   {GS, 'b', 3},
    {GS, 'f', 3},   {GS, 'L', 4},   {GS, 'W', 4},   {GS, 'P', 4},   {GS, 'a', 3},   {GS, 'r', 3},
    {GS, 'I', 3},   {GS, '/', 3},   {GS, ':', 2},   {GS, '^', 5},   {GS, '\\', 4},  {GS, 'T', 3},
    {FS, '&', 2},   {FS, '.', 2},   {FS, '-', 3},   {FS, 'C', 3},   {FS, 'S', 4},   {FS, 'W', 3},
    {FS, '?', 4},   {FS, 'p', 4},   {DLE, 0x04, 3}, {DLE, 0x05, 3},
};

class Printer {
public:
    Printer(const Paper& paper, Glyphs& glyphs, Rendering& out)
        : paper_(paper), glyphs_(glyphs), out_(out), left_((paper.width - paper.printable) / 2) {
        out_.picture.width = paper.width;
        y_ = kMargin;
    }

    void run(std::string_view bytes) {
        bytes_ = bytes;
        std::size_t textStart = 0;
        bool inText = false;
        while (at_ < bytes_.size()) {
            const auto byte = static_cast<unsigned char>(bytes_[at_]);
            const bool isText = byte >= 0x20 && byte != 0xFF;
            if (isText != inText) {
                if (inText) note(textStart, "text, " + std::to_string(at_ - textStart) + " bytes");
                inText = isText;
                textStart = at_;
            }
            if (isText) text(byte);
            else control(byte);
            if (y_ > kMaxRows) {
                problem(at_, "the paper is 10 m long here: the rest of the data is not drawn");
                y_ = kMaxRows;
                line_.clear();
                inText = false;
                break;
            }
        }
        if (inText) note(textStart, "text, " + std::to_string(at_ - textStart) + " bytes");
        if (!line_.empty())
            problem(lineStartOffset_, std::to_string(line_.size()) +
                                          " characters wait for a line feed at the end: a printer does not print them yet");
        finish();
    }

private:
    struct Placed {
        const Glyphs::Cell* cell;
        int x;
        int scaleX;
        int scaleY;
        bool bold;
        int underline;
    };

    // ---- input
    void note(std::size_t offset, std::string what) { out_.commands.push_back({offset, std::move(what), y_}); }
    void problem(std::size_t offset, std::string what) { out_.problems.push_back({offset, std::move(what), y_}); }
    bool have(std::size_t count) const { return bytes_.size() - at_ >= count; }
    unsigned char byteAt(std::size_t offset) const { return static_cast<unsigned char>(bytes_[offset]); }

    void text(unsigned char byte) {
        const std::size_t offset = at_;
        if (byte < 0x80) {
            ++at_;
            place(static_cast<char32_t>(byte), 12, offset);
            return;
        }
        if (byte == 0x80) {
            ++at_;
            problem(offset, "byte 0x80 is no character of code page 936: skipped");
            return;
        }
        // A lead byte: its trail byte 0x40-0xFE (not 0x7F) completes the character.
        if (!have(2) || byteAt(at_ + 1) < 0x40 || byteAt(at_ + 1) == 0x7F || byteAt(at_ + 1) == 0xFF) {
            ++at_;
            problem(offset, "lead byte " + hexByte(byte) + " without a trail byte: skipped");
            return;
        }
        const std::wstring wide = platform::codePageToWide(936, bytes_.substr(at_, 2));
        at_ += 2;
        if (wide.size() != 1 || wide[0] == L'?' || wide[0] == 0xFFFD) {
            problem(offset, "bytes " + hexByte(byte) + " " + hexByte(byteAt(offset + 1)) +
                                " are no character of code page 936: a box is drawn");
            place(kNoCharacter, 24, offset);
            return;
        }
        place(static_cast<char32_t>(wide[0]), 24, offset);
    }

    void control(unsigned char byte) {
        const std::size_t offset = at_;
        switch (byte) {
            case 0x0A:
                ++at_;
                note(offset, "LF");
                printLine(spacing_);
                return;
            case 0x0D:
                ++at_;
                note(offset, "CR (ignored: no automatic line feed)");
                return;
            case 0x09:
                ++at_;
                note(offset, "HT");
                if ((x_ / kTabDots + 1) * kTabDots <= area()) x_ = (x_ / kTabDots + 1) * kTabDots;
                return;
            case ESC: escape(); return;
            case GS: groupSeparator(); return;
            case FS: fileSeparator(); return;
            default: break;
        }
        if (byte == DLE && skipFixed(byte)) return;
        ++at_;
        problem(offset, "control byte " + hexByte(byte) + " is no command here: skipped");
    }

    // The parameter bytes of a command of `length` bytes, or false (and the
    // rest of the input consumed) when the input ends inside it.
    bool take(std::size_t length, const std::string& name) {
        if (have(length)) return true;
        problem(at_, name + " cut short by the end of the data: " + std::to_string(bytes_.size() - at_) + " of " +
                         std::to_string(length) + " bytes");
        at_ = bytes_.size();
        return false;
    }

    bool skipFixed(unsigned char prefix) {
        if (!have(2)) return false;
        const unsigned char code = byteAt(at_ + 1);
        for (const Skippable& entry : kSkippable) {
            if (entry.prefix != prefix || entry.code != code) continue;
            const std::string name = commandName(prefix, code);
            if (!take(static_cast<std::size_t>(entry.length), name)) return true;
            note(at_, name);
            problem(at_, name + " is not drawn: skipped, " + std::to_string(entry.length) + " bytes");
            at_ += static_cast<std::size_t>(entry.length);
            return true;
        }
        return false;
    }

    static std::string commandName(unsigned char prefix, unsigned char code) {
        std::string name = prefixName(prefix) + ' ';
        if (code > 0x20 && code < 0x7F) name += static_cast<char>(code);
        else name += hexByte(code);
        return name;
    }

    // Skips a command whose length its own bytes give.
    void skipCounted(const std::string& name, std::size_t header, std::size_t dataLength) {
        if (!take(header + dataLength, name)) return;
        note(at_, name);
        problem(at_, name + " is not drawn: skipped, " + std::to_string(header + dataLength) + " bytes");
        at_ += header + dataLength;
    }

    void unknown(unsigned char prefix) {
        if (!have(2)) {
            problem(at_, prefixName(prefix) + " ends the data");
            at_ = bytes_.size();
            return;
        }
        // Without a known length only the two bytes can be passed over; what
        // follows is read as the printer would have to read it.
        problem(at_, "unknown command " + commandName(prefix, byteAt(at_ + 1)) + ": 2 bytes skipped");
        at_ += 2;
    }

    unsigned char param(std::size_t index) const { return byteAt(at_ + index); }

    // A command of three bytes: its parameter, noted and passed over, or -1
    // when the data ends inside it.
    int oneParameter(const std::string& name) {
        if (!take(3, name)) return -1;
        const unsigned char n = param(2);
        note(at_, name + " " + std::to_string(n));
        at_ += 3;
        return n;
    }

    void escape() {
        if (!have(2)) return unknown(ESC);
        const unsigned char code = param(1);
        const std::size_t offset = at_;
        const std::string name = commandName(ESC, code);
        int n = 0;
        switch (code) {
            case '@':
                at_ += 2;
                note(offset, name);
                if (!line_.empty()) problem(offset, "ESC @ discards " + std::to_string(line_.size()) + " characters not yet printed");
                reset();
                return;
            case '2':
                at_ += 2;
                note(offset, name);
                spacing_ = kDefaultSpacing;
                return;
            case 'a':
                if ((n = oneParameter(name)) < 0) return;
                if (!line_.empty()) problem(offset, "ESC a in the middle of a line: ignored, as the printer ignores it");
                else if (n % 48 <= 2) align_ = n % 48;
                return;
            case '!':
                if ((n = oneParameter(name)) < 0) return;
                bold_ = n & 0x08;
                scaleY_ = n & 0x10 ? 2 : 1;
                scaleX_ = n & 0x20 ? 2 : 1;
                underline_ = n & 0x80 ? 1 : 0;
                return;
            case 'E':
                if ((n = oneParameter(name)) >= 0) bold_ = n & 1;
                return;
            case '-':
                if ((n = oneParameter(name)) >= 0) underline_ = std::min(n % 48, 2);
                return;
            case '3':
                if ((n = oneParameter(name)) >= 0) spacing_ = n;
                return;
            case 'd':
                if ((n = oneParameter(name)) < 0) return;
                printLine(spacing_, false);
                y_ += spacing_ * n;
                return;
            case 'J':
                if ((n = oneParameter(name)) < 0) return;
                if (line_.empty()) y_ += n;
                else printLine(n);
                return;
            case '*':
                if (!take(5, name)) return;
                return skipCounted(name, 5, (param(3) + 256u * param(4)) * (param(2) < 2 ? 1u : 3u));
            case 'D': {
                std::size_t end = at_ + 2;
                while (end < bytes_.size() && bytes_[end] != '\0') ++end;
                return skipCounted(name, 2, std::min(end + 1, bytes_.size()) - (at_ + 2));
            }
            default: break;
        }
        if (!skipFixed(ESC)) unknown(ESC);
    }

    void groupSeparator() {
        if (!have(2)) return unknown(GS);
        const unsigned char code = param(1);
        const std::size_t offset = at_;
        const std::string name = commandName(GS, code);
        int n = 0;
        switch (code) {
            case '!':
                if ((n = oneParameter(name)) < 0) return;
                if ((n & 0x0F) > 7 || (n >> 4) > 7) problem(offset, "GS ! " + std::to_string(n) + " asks for more than 8 times: ignored");
                else scaleX_ = (n >> 4) + 1, scaleY_ = (n & 0x0F) + 1;
                return;
            case 'h':
                if ((n = oneParameter(name)) < 0) return;
                if (n == 0) problem(offset, "GS h 0: ignored");
                else barcodeHeight_ = n;
                return;
            case 'w':
                if ((n = oneParameter(name)) < 0) return;
                if (n < 1 || n > 6) problem(offset, "GS w " + std::to_string(n) + " out of 1-6: ignored");
                else moduleWidth_ = n;
                return;
            case 'H':
                if ((n = oneParameter(name)) >= 0) hri_ = n % 48 & 3;
                return;
            case 'k': return barcode();
            case 'V': {
                if (!take(3, name)) return;
                const unsigned char m = param(2);
                const bool feeds = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
                if (!feeds && m != 0 && m != 1 && m != 48 && m != 49) {
                    problem(offset, "GS V " + std::to_string(m) + " is no cut: 3 bytes skipped");
                    at_ += 3;
                    return;
                }
                if (feeds && !take(4, name)) return;
                note(offset, name + " " + std::to_string(m) + (feeds ? " " + std::to_string(param(3)) : ""));
                printLine(spacing_, false);
                if (feeds) y_ += param(3);
                at_ += feeds ? 4 : 3;
                cut();
                return;
            }
            case 'v':
                if (!take(8, name)) return;
                return skipCounted(name + " 0", 8, (param(4) + 256u * param(5)) * (param(6) + 256u * param(7)));
            case '(':
                if (!take(5, name)) return;
                return skipCounted(name + " " + static_cast<char>(param(2)), 5, param(3) + 256u * param(4));
            case '*':
                if (!take(4, name)) return;
                return skipCounted(name, 4, param(2) * param(3) * 8u);
            default: break;
        }
        if (!skipFixed(GS)) unknown(GS);
    }

    void fileSeparator() {
        if (!have(2)) return unknown(FS);
        const std::string name = commandName(FS, param(1));
        if (param(1) == '!') {
            const int n = oneParameter(name);
            if (n < 0) return;
            kanjiScaleX_ = n & 0x04 ? 2 : 1;
            kanjiScaleY_ = n & 0x08 ? 2 : 1;
            kanjiUnderline_ = n & 0x80 ? 1 : 0;
            return;
        }
        if (param(1) == '2') {
            if (!take(4, name)) return;
            return skipCounted(name, 4, 72);
        }
        if (!skipFixed(FS)) unknown(FS);
    }

    void barcode() {
        const std::size_t offset = at_;
        if (!take(3, "GS k")) return;
        const unsigned char m = param(2);
        std::size_t header = 3;
        std::size_t length = 0;
        if (m <= 6) {
            std::size_t end = at_ + 3;
            while (end < bytes_.size() && bytes_[end] != '\0') ++end;
            length = std::min(end + 1, bytes_.size()) - (at_ + 3);
        } else if (m >= 65 && m <= 79) {
            if (!take(4, "GS k")) return;
            header = 4;
            length = param(3);
        } else {
            problem(offset, "GS k " + std::to_string(m) + " is no barcode system: 3 bytes skipped");
            at_ += 3;
            return;
        }
        if (!take(header + length, "GS k " + std::to_string(m))) return;
        if (m != 73) {
            note(offset, "GS k " + std::to_string(m));
            problem(offset, "GS k " + std::to_string(m) + ": only CODE128 (73) is drawn; " +
                                std::to_string(header + length) + " bytes skipped");
            at_ += header + length;
            return;
        }
        const Code128 symbol = buildCode128(bytes_.substr(at_ + header, length));
        at_ += header + length;
        note(offset, "GS k 73 " + std::to_string(length) + " (CODE128 \"" + symbol.humanReadable + "\")");
        if (!line_.empty()) {
            problem(offset, "barcode after text on the same line: the line is printed first");
            printLine(spacing_);
        }
        if (!symbol.error.empty()) {
            problem(offset, symbol.error + ": the barcode is not printed");
            return;
        }
        const int width = symbol.moduleCount * moduleWidth_;
        if (width > area()) {
            problem(offset, "barcode " + std::to_string(width) + " dots wide does not fit the print area of " +
                                std::to_string(area()) + " dots: not printed");
            return;
        }
        const int left = left_ + (align_ == 1 ? (area() - width) / 2 : align_ == 2 ? area() - width : 0);
        if (hri_ & 1) humanReadable(symbol.humanReadable, offset);
        ensureRows(y_ + barcodeHeight_);
        out_.barcodeRows.push_back(y_);
        int x = left;
        bool bar = true;
        for (const int modules : symbol.modules) {
            const int dots = modules * moduleWidth_;
            if (bar)
                for (int row = y_; row < y_ + barcodeHeight_; ++row)
                    std::fill_n(out_.picture.dots.begin() + static_cast<long>(row) * out_.picture.width + x, dots, kInk);
            x += dots;
            bar = !bar;
        }
        y_ += barcodeHeight_;
        if (hri_ & 2) humanReadable(symbol.humanReadable, offset);
    }

    void humanReadable(const std::string& text, std::size_t offset) {
        const int saveX = scaleX_, saveY = scaleY_;
        const bool saveBold = bold_;
        const int saveUnderline = underline_;
        scaleX_ = scaleY_ = 1;
        bold_ = false;
        underline_ = 0;
        for (const char c : text) place(static_cast<unsigned char>(c), 12, offset);
        printLine(0);
        scaleX_ = saveX, scaleY_ = saveY, bold_ = saveBold, underline_ = saveUnderline;
    }

    // ---- layout
    int area() const { return paper_.printable; }

    void reset() {
        line_.clear();
        x_ = 0;
        align_ = 0;
        bold_ = false;
        underline_ = 0;
        kanjiUnderline_ = 0;
        scaleX_ = scaleY_ = kanjiScaleX_ = kanjiScaleY_ = 1;
        spacing_ = kDefaultSpacing;
        barcodeHeight_ = 162;
        moduleWidth_ = 3;
        hri_ = 0;
    }

    void place(char32_t character, int cellWidth, std::size_t offset) {
        const bool wide = cellWidth == 24;
        const Glyphs::Cell& cell = glyphs_.cell(character, cellWidth);
        if (!cell.found && character != kNoCharacter) {
            char text[64];
            std::snprintf(text, sizeof text, "no glyph for U+%04X in the font: a box is drawn", static_cast<unsigned>(character));
            problem(offset, text);
        }
        // Double-byte characters take the larger of the common size and
        // their own FS ! doubling.
        const int sx = wide ? std::max(scaleX_, kanjiScaleX_) : scaleX_;
        const int sy = wide ? std::max(scaleY_, kanjiScaleY_) : scaleY_;
        const int width = cell.width * sx;
        if (x_ + width > area() && !line_.empty()) printLine(spacing_);  // the printer wraps
        if (line_.empty()) lineStartOffset_ = offset;
        line_.push_back({&cell, x_, sx, sy, bold_, wide ? std::max(underline_, kanjiUnderline_) : underline_});
        x_ += width;
    }

    // Prints the line buffer and moves down by `feed`, or by the line's
    // height when that is more; an empty buffer feeds only when `feedEmpty`.
    void printLine(int feed, bool feedEmpty = true) {
        if (line_.empty()) {
            if (feedEmpty) y_ += feed;
            x_ = 0;
            return;
        }
        int height = 0;
        for (const Placed& item : line_) height = std::max(height, item.cell->height * item.scaleY);
        const int used = std::min(x_, area());
        const int shift = align_ == 1 ? (area() - used) / 2 : align_ == 2 ? area() - used : 0;
        ensureRows(y_ + height);
        for (const Placed& item : line_) draw(item, left_ + shift + item.x, y_ + height - item.cell->height * item.scaleY);
        y_ += std::max(feed, height);
        line_.clear();
        x_ = 0;
    }

    void draw(const Placed& item, int left, int top) {
        const Glyphs::Cell& cell = *item.cell;
        Picture& picture = out_.picture;
        const int width = cell.width * item.scaleX;
        const int height = cell.height * item.scaleY;
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = picture.dots.data() + static_cast<std::size_t>(top + y) * picture.width;
            const std::uint8_t* source = cell.dots.data() + static_cast<std::size_t>(y / item.scaleY) * cell.width;
            const bool underlined = item.underline > 0 && y >= height - item.underline * item.scaleY;
            for (int x = 0; x < width; ++x) {
                const int px = left + x;
                if (px < 0 || px >= picture.width) continue;
                // Emphasis prints each dot twice, the second one dot to the right.
                const bool ink = underlined || source[x / item.scaleX] == kInk ||
                                 (item.bold && x > 0 && source[(x - 1) / item.scaleX] == kInk);
                if (ink) row[px] = kInk;
            }
        }
    }

    void ensureRows(int rows) {
        if (rows <= out_.picture.height) return;
        out_.picture.height = rows;
        out_.picture.dots.resize(static_cast<std::size_t>(rows) * out_.picture.width, kPaper);
    }

    void cut() {
        ensureRows(y_ + kStripGap);
        Picture& picture = out_.picture;
        for (int row = y_; row < y_ + kStripGap; ++row)
            std::fill_n(picture.dots.begin() + static_cast<long>(row) * picture.width, picture.width, kGap);
        const int middle = y_ + kStripGap / 2;
        for (int x = 0; x < picture.width; ++x)
            if (x % 12 < 8) picture.dots[static_cast<std::size_t>(middle) * picture.width + x] = kCutLine;
        out_.cutRows.push_back(middle);
        y_ += kStripGap + kMargin;
    }

    void finish() {
        if (!out_.cutRows.empty() && y_ == out_.cutRows.back() + kStripGap / 2 + kMargin) {
            // The last strip ended with its cut: nothing follows it.
            ensureRows(y_ - kMargin);
            return;
        }
        ensureRows(y_ + kMargin);
    }

    const Paper paper_;
    Glyphs& glyphs_;
    Rendering& out_;
    const int left_;
    std::string_view bytes_;
    std::size_t at_ = 0;

    std::vector<Placed> line_;
    std::size_t lineStartOffset_ = 0;
    int x_ = 0;
    int y_ = 0;
    int align_ = 0;
    bool bold_ = false;
    int underline_ = 0;
    int kanjiUnderline_ = 0;
    int scaleX_ = 1, scaleY_ = 1, kanjiScaleX_ = 1, kanjiScaleY_ = 1;
    int spacing_ = kDefaultSpacing;
    int barcodeHeight_ = 162;
    int moduleWidth_ = 3;
    int hri_ = 0;
};

}  // namespace

void render(std::string_view bytes, const Paper& paper, Glyphs& glyphs, Rendering& out) {
    out.picture.height = 0;
    out.picture.dots.clear();
    out.cutRows.clear();
    out.commands.clear();
    out.problems.clear();
    out.barcodeRows.clear();
    Printer printer(paper, glyphs, out);
    printer.run(bytes);
}

Rendering render(std::string_view bytes, const Paper& paper, Glyphs& glyphs) {
    Rendering out;
    render(bytes, paper, glyphs, out);
    return out;
}

}  // namespace receipt_view
