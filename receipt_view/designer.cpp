#include "receipt_view/designer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "receipt_view/code128.h"
#include "binding/conversions.h"

namespace receipt_view {

namespace {

using namespace std::string_view_literals;

constexpr auto npos = std::string_view::npos;
constexpr std::size_t kMarkerLength = 5;  // "<p_s>", "<o_e>", ...
constexpr std::size_t kTagLength = 4;
// A text full of one mistake would bury the others.
constexpr std::size_t kShownOfAKind = 20;
constexpr std::size_t kExcerptCharacters = 24;
// The page dumps this much of the bytes with their command names, and offers
// all of them for download; naming commands further on would only lengthen
// the answer. Likewise for problems and paragraphs.
constexpr std::size_t kNamedBytes = 64 * 1024;
constexpr std::size_t kListed = 2000;

bool blank(std::string_view text) { return text.find_first_not_of(" \t\r\n") == npos; }

// Counts lines forward: every warning's line costs only the text since the last one.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    int at(std::size_t offset) {
        offset = std::min(offset, text_.size());
        if (offset < from_) from_ = 0, line_ = 1;
        line_ += static_cast<int>(std::count(text_.begin() + static_cast<long>(from_), text_.begin() + static_cast<long>(offset), '\n'));
        from_ = offset;
        return line_;
    }

private:
    std::string_view text_;
    std::size_t from_ = 0;
    int line_ = 1;
};

class Warnings {
public:
    // Whether one more warning of `kind` is shown; each is counted.
    bool want(std::string_view kind) {
        for (auto& [name, count] : counts_)
            if (name == kind) return ++count <= kShownOfAKind;
        counts_.emplace_back(std::string(kind), 1);
        return true;
    }
    void add(std::string_view kind, int line, std::string message) {
        if (want(kind)) list_.push_back({std::string(kind), line, std::move(message)});
    }
    std::vector<Warning> done() && {
        std::stable_sort(list_.begin(), list_.end(), [](const Warning& a, const Warning& b) { return a.line < b.line; });
        for (const auto& [kind, count] : counts_)
            if (count > kShownOfAKind)
                list_.push_back({kind, 0, std::to_string(count - kShownOfAKind) + " more like the above"});
        return std::move(list_);
    }

private:
    std::vector<std::pair<std::string, std::size_t>> counts_;
    std::vector<Warning> list_;
};

std::string hexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// A few characters of a stretch of the converted text, in quotes, for a message.
std::string excerpt(std::string_view text, unsigned codePage) {
    const auto first = text.find_first_not_of(" \t\r\n");
    text = first == npos ? std::string_view() : text.substr(first);
    std::wstring wide = platform::codePageToWide(codePage, text.substr(0, 4 * kExcerptCharacters));
    while (!wide.empty() && (wide.back() == L' ' || wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L'\t'))
        wide.pop_back();
    if (wide.size() > kExcerptCharacters) wide.resize(kExcerptCharacters), wide += L'\u2026';
    std::replace(wide.begin(), wide.end(), L'\n', L'\u23CE');
    return "\u201C" + binding::wideToUtf8(wide) + "\u201D";
}

std::string paperName(const DesignRequest& request) { return std::to_string(request.paperMillimetres) + " mm paper"; }

void checkBarcode(const DesignRequest& request, const ReceiptSegment& segment, int line, Warnings& out) {
    const std::string what = "barcode " + excerpt(segment.text, request.codePage);
    std::string bytes;
    Collect sink(bytes);
    binding::encodeSegment(segment, request.route, sink);
    const auto header = bytes.find("\x1D\x6B\x49"sv);
    if (header == npos || header + 4 > bytes.size()) {
        out.add("barcode-not-printed", line,
                what + ": " + std::to_string(segment.text.size()) +
                    " bytes are more than the printer's count byte holds; the add-on leaves the barcode out");
        return;
    }
    const std::size_t count = static_cast<unsigned char>(bytes[header + 3]);
    int moduleWidth = 3;  // the printer's own
    if (const auto width = bytes.find("\x1D\x77"sv); width != npos && width + 2 < bytes.size())
        moduleWidth = static_cast<unsigned char>(bytes[width + 2]);
    const Code128 symbol = buildCode128(std::string_view(bytes).substr(header + 4, count));
    if (!symbol.error.empty()) {
        out.add("barcode-not-printed", line, what + ": " + symbol.error + "; the printer prints no barcode");
        return;
    }
    const int dots = symbol.moduleCount * moduleWidth;
    if (dots > request.paper.printable)
        out.add("barcode-too-wide", line,
                what + " is " + std::to_string(dots) + " dots wide; " + paperName(request) + " prints " +
                    std::to_string(request.paper.printable) + ": the printer leaves it out");
}

// Invalid UTF-8, a zero byte, and characters the code page lacks or that are
// no ASCII on a Western system.
void checkCharacters(const DesignRequest& request, const MarkupPrint& print, Warnings& out) {
    const std::string_view raw = request.text;
    Lines rawLines(raw);
    const auto zero = raw.find('\0');
    const std::string_view used = raw.substr(0, zero);
    for (std::size_t i = 0; i < used.size();) {
        const std::size_t length = utf8SequenceLength(used.substr(i));
        if (length > 0) {
            i += length;
            continue;
        }
        if (out.want("invalid-utf8"))
            out.add("invalid-utf8", rawLines.at(i),
                    "byte " + std::to_string(i) + " (" + hexByte(static_cast<unsigned char>(used[i])) +
                        ") is not UTF-8: the add-on gets U+FFFD in its place, which prints as \"?\"");
        ++i;
    }
    if (zero != npos)
        out.add("zero-byte", rawLines.at(zero), "a zero byte at byte " + std::to_string(zero) +
                                                    " ends the text for the add-on: nothing after it is printed");

    // Each character is one byte of the converted text, or two of code page
    // 936 from a lead byte on; one that is lost is one "?".
    const std::wstring wide = binding::utf8ToWide(raw);
    const std::string_view text = print.text;
    std::size_t at = 0;
    int line = 1;
    for (const wchar_t character : wide) {
        if (at >= text.size()) break;
        if (character == L'\n') ++line;
        const auto byte = static_cast<unsigned char>(text[at]);
        if (character < 0x80) {
            ++at;
            continue;
        }
        const bool lost = byte == '?';
        at += !lost && request.codePage == kChineseCodePage && byte >= 0x81 ? 2 : 1;
        if (character == 0xFFFD) continue;  // told above
        const std::string shown = "\u201C" + binding::wideToUtf8(std::wstring(1, character)) + "\u201D";
        if (lost)
            out.add("not-in-code-page", line,
                    shown + " is not in code page " + std::to_string(request.codePage) + ": the printer gets \"?\"");
        else if (request.codePage != kChineseCodePage)
            out.add("not-ascii", line,
                    shown + " is no ASCII: code page " + std::to_string(request.codePage) + " sends byte " +
                        hexByte(byte) + ", which the printer reads in its own character table");
    }
}

}  // namespace

std::size_t utf8SequenceLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // of the second byte; overlong forms and surrogates excluded
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < (i == 1 ? low : 0x80) || byte > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

std::vector<Warning> markupWarnings(const DesignRequest& request, const MarkupPrint& print) {
    Warnings out;
    checkCharacters(request, print, out);

    const std::string_view text = print.text;
    Lines lines(text);
    const bool device = request.route == Route::Device;
    const auto orderStart = text.find("<o_s>");
    const auto orderEnd = orderStart == npos ? npos : text.find("<o_e>", orderStart);
    const bool orderBlock = orderEnd != npos;
    // Where the order-id block lies, when it is one; the device route prints
    // only what precedes it.
    const std::size_t blockEnd = orderBlock ? orderEnd + kMarkerLength : npos;
    const std::string_view printable = device && orderBlock ? text.substr(0, orderStart) : text;

    if (orderBlock && !blank(text.substr(blockEnd)))
        out.add("order-id-not-last", lines.at(orderStart),
                device ? "the order-id block is not last: everything from <o_s> on is cut off before printing"
                       : "the order-id block is not last: the USB route would cut off everything from <o_s> on");
    if (!orderBlock && (orderStart != npos || text.find("<o_e>") != npos))
        out.add("order-id-incomplete", lines.at(orderStart != npos ? orderStart : text.find("<o_e>")),
                "no complete order-id block (<o_s>, later <o_e>): no order id is reported, and the markers print "
                "as text where they lie in a paragraph");

    const auto paragraphs = binding::splitParagraphs(printable, Route::Spooler);
    std::size_t searched = 0;  // where the search for paragraphs ended
    const auto outside = [&](std::size_t from, std::size_t to) {
        // The spooler route passes over the order-id block between paragraphs.
        if (!device && orderBlock && from < blockEnd && orderStart < to) {
            const std::size_t before = std::min(to, orderStart);
            const std::size_t after = std::max(from, blockEnd);
            if (from < before && !blank(text.substr(from, before - from)))
                out.add("outside-paragraph", lines.at(from + text.substr(from).find_first_not_of(" \t\r\n")),
                        "text outside any paragraph is never printed: " + excerpt(text.substr(from, before - from), request.codePage));
            from = after;
        }
        if (from >= to) return;
        const std::string_view stretch = text.substr(from, to - from);
        if (blank(stretch)) return;
        out.add("outside-paragraph", lines.at(from + stretch.find_first_not_of(" \t\r\n")),
                "text outside any paragraph is never printed: " + excerpt(stretch, request.codePage));
    };
    for (const std::string_view paragraph : paragraphs) {
        const auto start = static_cast<std::size_t>(paragraph.data() - text.data()) - kMarkerLength;
        outside(searched, start);
        searched = start + kMarkerLength + paragraph.size() + kMarkerLength;
        if (!device && orderBlock && start < orderStart && orderStart < searched)
            out.add("order-id-printed", lines.at(orderStart),
                    "on the spooler route the order-id block inside a paragraph prints as text");
    }
    const auto unclosed = printable.find("<p_s>", searched);
    if (paragraphs.empty()) {
        out.add("no-paragraph", 1,
                device ? "no complete paragraph (<p_s> ... <p_e>): the USB route prints the whole text as one "
                         "paragraph, the spooler route would print nothing"
                       : "no complete paragraph (<p_s> ... <p_e>): nothing prints on the spooler route");
    } else {
        outside(searched, unclosed == npos ? printable.size() : unclosed);
    }
    if (unclosed != npos && !(device && paragraphs.empty()))
        out.add("unclosed-paragraph", lines.at(unclosed),
                "<p_s> without a later <p_e>: this paragraph and all after it are not printed");

    for (const std::string_view paragraph : splitParagraphs(printable, request.route)) {
        const auto offset = static_cast<std::size_t>(paragraph.data() - text.data());
        const auto segments = binding::tokenizeSegments(paragraph);
        const std::size_t firstTag =
            segments.empty() ? paragraph.size()
                             : static_cast<std::size_t>(segments.front().text.data() - paragraph.data()) - kTagLength;
        const std::string_view lead = paragraph.substr(0, firstTag);
        if (!blank(lead)) {
            const std::size_t at = offset + lead.find_first_not_of(" \t\r\n");
            if (segments.empty())
                out.add("before-first-tag", lines.at(at),
                        std::string("a paragraph without a tag prints none of its text") +
                            (device ? "" : " (only its line feeds and cut)") + ": " + excerpt(lead, request.codePage));
            else
                out.add("before-first-tag", lines.at(at),
                        "text before the paragraph's first tag is never printed: " + excerpt(lead, request.codePage));
        }
        for (const ReceiptSegment& segment : segments) {
            const std::string_view tag(segment.text.data() - kTagLength, kTagLength);
            const int line = lines.at(static_cast<std::size_t>(tag.data() - text.data()));
            if (segment.command.empty())
                out.add("unknown-tag", line,
                        "\u201C" + std::string(tag) +
                            "\u201D is no tag the add-on knows: the text after it prints left-aligned, in the mode "
                            "set before");
            else if (segment.command == "<bc>" || segment.command == "<pb>")
                checkBarcode(request, segment, line, out);
        }
    }
    return std::move(out).done();
}

namespace {

// What the client's script gets back for the receipt's order id, taken from
// the text as the script wrote it, as the add-on takes it on both routes.
void reportOrderId(const DesignRequest& request, Design& out) {
    std::string script = binding::wideToUtf8(binding::utf8ToWide(request.text));
    const bool found = binding::splitOrderId(script, out.orderId);
    const bool device = request.route == Route::Device;
    const char* call = device ? "NoDriverGetPrinted" : "GetPrintedTasks";
    if (!found) {
        out.orderIdNote = std::string("no order-id block: ") + call + " reports nothing for this receipt";
    } else if (out.orderId.empty()) {
        out.orderIdNote = "the order id is empty: nothing is reported";
    } else if (device) {
        out.orderIdReported = true;
        out.orderIdNote = out.print.paragraphs.empty()
                              ? "NoDriverGetPrinted gives it once, although no paragraph prints"
                              : "NoDriverGetPrinted gives it once, after every paragraph has reached the printer";
    } else if (out.print.paragraphs.empty()) {
        out.orderIdNote = "not tracked: no document reaches the spooler, so GetPrintedTasks never gives it";
    } else {
        out.orderIdReported = true;
        out.orderIdNote = "GetPrintedTasks gives it once the spooler has printed its " +
                          std::to_string(out.print.paragraphs.size()) + " document(s)";
    }
    if (out.orderIdReported && out.orderId.find(',') != std::string::npos)
        out.warnings.push_back({"order-id-comma", Lines(request.text).at(request.text.find("<o_s>")),
                                std::string("the order id holds \",\", which separates the ids ") + call +
                                    " gives: the client reads more than one id"});
}

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8SequenceLength(text.substr(i));
        if (length == 0) {
            out += "\uFFFD";
            ++i;
            continue;
        }
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
            out += escaped;
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    out += '"';
}

void appendBase64(std::string& out, std::string_view bytes) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out += '"';
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4 + 1);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) out += k <= left ? kDigits[group >> (18 - 6 * k) & 63] : '=';
    }
    out += '"';
}

void appendEvents(std::string& out, const std::vector<Event>& events, std::size_t limitOffset, std::size_t limitCount) {
    out += '[';
    std::size_t listed = 0;
    for (const Event& event : events) {
        if (event.offset >= limitOffset || listed == limitCount) continue;
        if (listed++ > 0) out += ',';
        out += '[' + std::to_string(event.offset) + ',';
        appendQuoted(out, event.what);
        out += ',' + std::to_string(event.row) + ']';
    }
    out += ']';
}

void appendRows(std::string& out, const std::vector<int>& rows) {
    out += '[';
    for (std::size_t i = 0; i < rows.size(); ++i) out += (i > 0 ? "," : "") + std::to_string(rows[i]);
    out += ']';
}

}  // namespace

void design(const DesignRequest& request, Glyphs& glyphs, Design& out) {
    out.print = printMarkup(request.text, request.route, request.codePage);
    render(out.print.bytes, request.paper, glyphs, out.rendering);
    out.warnings = markupWarnings(request, out.print);
    out.orderIdReported = false;
    out.orderId.clear();
    out.orderIdNote.clear();
    reportOrderId(request, out);
}

Design design(const DesignRequest& request, Glyphs& glyphs) {
    Design out;
    design(request, glyphs, out);
    return out;
}

std::string designJson(const Design& design, std::string_view png) {
    const Rendering& rendering = design.rendering;
    std::string out = "{\"bytes\":";
    appendBase64(out, design.print.bytes);
    out += ",\"png\":";
    appendBase64(out, png);
    out += ",\"width\":" + std::to_string(rendering.picture.width) +
           ",\"height\":" + std::to_string(rendering.picture.height) + ",\"cuts\":";
    appendRows(out, rendering.cutRows);
    out += ",\"namedBytes\":" + std::to_string(std::min(kNamedBytes, design.print.bytes.size())) + ",\"commands\":";
    appendEvents(out, rendering.commands, kNamedBytes, npos);
    out += ",\"problems\":";
    appendEvents(out, rendering.problems, npos, kListed);
    out += ",\"problemCount\":" + std::to_string(rendering.problems.size());

    // Each paragraph from the row where the printer met its ESC @ to where the next one begins.
    out += ",\"paragraphs\":[";
    Lines lines(design.print.text);
    const auto& paragraphs = design.print.paragraphs;
    const auto topOf = [&](std::size_t offset) {
        const auto found = std::lower_bound(rendering.commands.begin(), rendering.commands.end(), offset,
                                            [](const Event& event, std::size_t at) { return event.offset < at; });
        return found == rendering.commands.end() ? rendering.picture.height : found->row;
    };
    for (std::size_t i = 0; i < paragraphs.size() && i < kListed; ++i) {
        const PrintedParagraph& p = paragraphs[i];
        const int top = topOf(p.byteOffset);
        const int bottom = i + 1 < paragraphs.size() ? topOf(paragraphs[i + 1].byteOffset) : rendering.picture.height;
        out += (i > 0 ? ",{" : "{");
        out += "\"line\":" + std::to_string(lines.at(p.textOffset)) + ",\"offset\":" + std::to_string(p.byteOffset) +
               ",\"length\":" + std::to_string(p.byteLength) + ",\"top\":" + std::to_string(top) +
               ",\"bottom\":" + std::to_string(std::max(top, bottom)) + "}";
    }
    out += "],\"paragraphCount\":" + std::to_string(paragraphs.size()) + ",\"warnings\":[";
    for (std::size_t i = 0; i < design.warnings.size(); ++i) {
        const Warning& warning = design.warnings[i];
        out += (i > 0 ? ",{\"kind\":" : "{\"kind\":");
        appendQuoted(out, warning.kind);
        out += ",\"line\":" + std::to_string(warning.line) + ",\"message\":";
        appendQuoted(out, warning.message);
        out += '}';
    }
    out += "],\"orderId\":{\"reported\":";
    out += design.orderIdReported ? "true" : "false";
    out += ",\"id\":";
    appendQuoted(out, design.orderId);
    out += ",\"note\":";
    appendQuoted(out, design.orderIdNote);
    out += "}}";
    return out;
}

}  // namespace receipt_view
