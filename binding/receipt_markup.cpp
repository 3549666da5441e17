#include "binding/receipt_markup.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "binding/addon_log.h"

namespace binding {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kOrderStart = "<o_s>";
constexpr std::string_view kOrderEnd = "<o_e>";
constexpr std::string_view kParagraphStart = "<p_s>";
constexpr std::string_view kParagraphEnd = "<p_e>";
constexpr std::size_t kTagLength = 4;

constexpr std::string_view kCenter = "center";
constexpr std::string_view kCenterBig = "center-big";
constexpr std::string_view kBarcode = "<bc>";
constexpr std::string_view kBarcodeAlias = "<pb>";

struct TagEntry {
    std::string_view tag;
    std::string_view command;
};

constexpr std::array kTagTable{
    TagEntry{"<h1>", "\x1B\x21\x02"sv},
    TagEntry{"<h2>", "\x1B\x21\x08"sv},
    TagEntry{"<h3>", "\x1D\x21\x04"sv},
    TagEntry{"<w1>", "\x1D\x21\x10"sv},
    TagEntry{"<w2>", "\x1D\x21\x20"sv},
    TagEntry{"<w3>", "\x1D\x21\x30"sv},
    TagEntry{"<t1>", "\x1B\x21\x30"sv},
    TagEntry{"<t2>", "\x1B\x21\x38"sv},
    TagEntry{"<t3>", "\x1B\x21\x10"sv},
    TagEntry{"<i0>", "\x1C\x21\x11\x1B\x21\x02"sv},
    TagEntry{"<c0>", kCenter},
    TagEntry{"<c1>", kCenterBig},
    TagEntry{"<bc>", kBarcode},
    TagEntry{"<pb>", kBarcodeAlias},
};

constexpr std::string_view kInitialise = "\x1B\x40"sv;
constexpr std::string_view kAlignLeft = "\x1B\x61\x00"sv;
constexpr std::string_view kAlignCentre = "\x1B\x61\x01"sv;
constexpr std::string_view kBig = "\x1B\x21\x30"sv;
constexpr std::string_view kBarcodeHeight = "\x1D\x68\x3C"sv;
constexpr std::string_view kBarcodeWidth = "\x1D\x77\x02"sv;
constexpr std::string_view kCut = "\x1D\x56\x41\x01"sv;
constexpr std::string_view kDeviceFeed = "\n\n\n"sv;
constexpr std::string_view kSpoolerFeed = "\n"sv;

// Code set C carries two digits per byte; the printer needs it for long
// numbers that would not fit the paper in code set B.
constexpr std::size_t kCodeSetCFrom = 17;

// The letters a tag may have second and third, and for every byte its place
// among them (-1 for none): a tag is recognised and looked up without
// comparing strings, which the scan of every byte of a receipt would pay for.
constexpr std::string_view kTagKinds = "hwticbp";
constexpr std::string_view kTagLevels = "0123cb";

constexpr std::array<signed char, 256> placesIn(std::string_view letters) {
    std::array<signed char, 256> places{};
    places.fill(-1);
    for (std::size_t i = 0; i < letters.size(); ++i) places[static_cast<unsigned char>(letters[i])] = static_cast<signed char>(i);
    return places;
}
constexpr auto kKindPlace = placesIn(kTagKinds);
constexpr auto kLevelPlace = placesIn(kTagLevels);

// The tag table's entry for each kind and level, -1 where the table has none.
constexpr auto kTagEntry = [] {
    std::array<signed char, kTagKinds.size() * kTagLevels.size()> entries{};
    entries.fill(-1);
    for (std::size_t e = 0; e < kTagTable.size(); ++e)
        entries[kTagKinds.find(kTagTable[e].tag[1]) * kTagLevels.size() + kTagLevels.find(kTagTable[e].tag[2])] =
            static_cast<signed char>(e);
    return entries;
}();

bool isTagAt(std::string_view text, std::size_t i) {
    return text[i] == '<' && kKindPlace[static_cast<unsigned char>(text[i + 1])] >= 0 &&
           kLevelPlace[static_cast<unsigned char>(text[i + 2])] >= 0 && text[i + 3] == '>';
}

// The first tag starting in [from, last], or npos; only a '<' can start one.
std::size_t findTag(std::string_view text, std::size_t from, std::size_t last) {
    while (from <= last) {
        const void* open = std::memchr(text.data() + from, '<', last - from + 1);
        if (open == nullptr) break;
        from = static_cast<std::size_t>(static_cast<const char*>(open) - text.data());
        if (isTagAt(text, from)) return from;
        ++from;
    }
    return std::string_view::npos;
}

bool allDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void writeBarcode(std::string_view text, Route route, RouteSink& sink) {
    const bool codeSetC = route == Route::Device && text.size() >= kCodeSetCFrom && allDigits(text);
    // Pairs of digits, with a "0" implied before an odd count.
    std::array<char, kMaxBarcodeData> packed{};
    std::string_view data = text;
    if (codeSetC) {
        const std::size_t count = (text.size() + 1) / 2;
        if (count > kMaxBarcodeData) {
            logLine("barcode not printed: %d digits", static_cast<int>(text.size()));
            return;
        }
        std::size_t from = 0;
        std::size_t to = 0;
        if (text.size() % 2 == 1) packed[to++] = static_cast<char>(text[from++] - '0');
        for (; from < text.size(); from += 2)
            packed[to++] = static_cast<char>(10 * (text[from] - '0') + (text[from + 1] - '0'));
        data = std::string_view(packed.data(), count);
    } else if (text.size() > kMaxBarcodeData) {
        logLine("barcode not printed: %d bytes", static_cast<int>(text.size()));
        return;
    }
    const char header[] = {'\x1D', '\x6B', '\x49', static_cast<char>(data.size() + 2), '\x7B', codeSetC ? 'C' : 'B'};
    sink.write(kAlignCentre);
    sink.write(kBarcodeHeight);
    sink.write(kBarcodeWidth);
    sink.write(std::string_view(header, sizeof header));
    sink.write(data);
}

}  // namespace

bool splitOrderId(std::string& text, std::string& orderId) {
    const auto start = text.find(kOrderStart);
    if (start == std::string::npos) return false;
    const auto end = text.find(kOrderEnd, start);
    if (end == std::string::npos) return false;
    orderId = text.substr(start + kOrderStart.size(), end - start - kOrderStart.size());
    text.resize(start);
    return true;
}

std::vector<std::string_view> splitParagraphs(std::string_view text, Route route) {
    std::vector<std::string_view> paragraphs;
    std::size_t position = 0;
    while (true) {
        const auto start = text.find(kParagraphStart, position);
        if (start == std::string_view::npos) break;
        const auto from = start + kParagraphStart.size();
        const auto end = text.find(kParagraphEnd, from);
        if (end == std::string_view::npos) break;
        paragraphs.push_back(text.substr(from, end - from));
        position = end + kParagraphEnd.size();
    }
    if (paragraphs.empty() && route == Route::Device) paragraphs.push_back(text);
    return paragraphs;
}

std::vector<ReceiptSegment> tokenizeSegments(std::string_view paragraph) {
    std::vector<ReceiptSegment> segments;
    if (paragraph.size() < kTagLength) return segments;
    const std::size_t last = paragraph.size() - kTagLength;
    constexpr auto none = std::string_view::npos;
    // Counted first, so a paragraph costs one allocation however many tags
    // it has. Tags cannot overlap, so every tag found starts a segment.
    std::size_t tags = 0;
    for (std::size_t at = findTag(paragraph, 0, last); at != none; at = findTag(paragraph, at + kTagLength, last)) ++tags;
    segments.reserve(tags);
    for (std::size_t i = findTag(paragraph, 0, last); i != none;) {
        const std::size_t next = findTag(paragraph, i + kTagLength, last);
        ReceiptSegment segment;
        tagCommand(paragraph.substr(i, kTagLength), segment.command);
        const std::size_t textEnd = next != none ? next : paragraph.size();
        segment.text = paragraph.substr(i + kTagLength, textEnd - i - kTagLength);
        segments.push_back(segment);
        i = next;
    }
    return segments;
}

bool tagCommand(std::string_view tag, std::string_view& command) {
    if (tag.size() != kTagLength || !isTagAt(tag, 0)) return false;
    const auto entry = kTagEntry[static_cast<std::size_t>(kKindPlace[static_cast<unsigned char>(tag[1])]) * kTagLevels.size() +
                                 static_cast<std::size_t>(kLevelPlace[static_cast<unsigned char>(tag[2])])];
    if (entry < 0) return false;
    command = kTagTable[static_cast<std::size_t>(entry)].command;
    return true;
}

void encodeSegment(const ReceiptSegment& segment, Route route, RouteSink& sink) {
    if (segment.command == kBarcode || segment.command == kBarcodeAlias) {
        writeBarcode(segment.text, route, sink);
        return;
    }
    if (segment.command == kCenter) {
        sink.write(kAlignCentre);
    } else if (segment.command == kCenterBig) {
        sink.write(kAlignCentre);
        sink.write(kBig);
    } else {
        sink.write(kAlignLeft);
        sink.write(segment.command);
    }
    sink.write(segment.text);
}

void encodeParagraph(std::span<const ReceiptSegment> segments, Route route, RouteSink& sink) {
    sink.write(kInitialise);
    for (const auto& segment : segments) encodeSegment(segment, route, sink);
    if (route == Route::Device) {
        sink.write(kDeviceFeed);
    } else {
        sink.write(kSpoolerFeed);
        sink.write(kSpoolerFeed);
        sink.write(kCut);
    }
}

}  // namespace binding
