// Coverage-guided fuzzing of the receipt mark-up: order id, paragraphs,
// segments and their encoding on both routes, checked against the
// properties that hold for every input.
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "binding/receipt_markup.h"

using namespace binding;

namespace {

#define CHECK(condition)                                                  \
    do {                                                                  \
        if (!(condition)) {                                               \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                 \
        }                                                                 \
    } while (0)

bool within(std::string_view part, std::string_view whole) {
    return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

bool isTag(std::string_view four) {
    std::string_view command;
    const bool shaped = four.size() == 4 && four[0] == '<' && four[3] == '>' &&
                        std::string_view("hwticbp").find(four[1]) != std::string_view::npos &&
                        std::string_view("0123cb").find(four[2]) != std::string_view::npos;
    // Every tag of the table is tag-shaped.
    if (tagCommand(four, command)) CHECK(shaped);
    return shaped;
}

// Taken from the tag table, so the barcode checks follow however it names the command.
bool isBarcode(std::string_view command) {
    std::string_view barcode;
    std::string_view alias;
    CHECK(tagCommand("<bc>", barcode) && tagCommand("<pb>", alias));
    return command == barcode || command == alias;
}

class CheckingSink : public RouteSink {
public:
    void write(std::string_view bytes) override { writes.emplace_back(bytes); }
    std::vector<std::string> writes;
};

void checkParagraph(std::string_view paragraph, Route route) {
    const auto segments = tokenizeSegments(paragraph);
    // Segments tile the paragraph from its first tag to its end, and no text holds a tag.
    std::size_t first = 0;
    while (first + 4 <= paragraph.size() && !isTag(paragraph.substr(first, 4))) ++first;
    if (segments.empty()) CHECK(first + 4 > paragraph.size());
    std::size_t at = first;
    for (const auto& segment : segments) {
        CHECK(within(segment.text, paragraph));
        CHECK(isTag(paragraph.substr(at, 4)));
        CHECK(segment.text.data() == paragraph.data() + at + 4);
        for (std::size_t i = 0; i + 4 <= segment.text.size(); ++i) CHECK(!isTag(segment.text.substr(i, 4)));
        at += 4 + segment.text.size();
    }
    if (!segments.empty()) CHECK(at == paragraph.size());

    CheckingSink sink;
    encodeParagraph(segments, route, sink);
    const auto& w = sink.writes;
    CHECK(!w.empty() && w.front() == "\x1B\x40");
    if (route == Route::Device) {
        CHECK(w.back() == "\n\n\n");
    } else {
        CHECK(w.size() >= 4 && w[w.size() - 3] == "\n" && w[w.size() - 2] == "\n" && w.back() == "\x1D\x56\x41\x01");
    }
    // The paragraph is its segments' encodings between the opening and the feed.
    std::size_t next = 1;
    for (const auto& segment : segments) {
        CheckingSink alone;
        encodeSegment(segment, route, alone);
        for (const auto& bytes : alone.writes) {
            CHECK(next < w.size() && w[next] == bytes);
            ++next;
        }
        // Barcodes are judged segment by segment: receipt text may hold header-like bytes.
        if (!isBarcode(segment.command)) continue;
        if (alone.writes.empty()) continue;  // too long to print: dropped
        CHECK(alone.writes.size() == 5);
        const auto& header = alone.writes[3];
        const auto& data = alone.writes[4];
        CHECK(header.size() == 6 && header.compare(0, 3, "\x1D\x6B\x49") == 0 && header[4] == '{');
        // The count byte tells exactly the data that follows.
        CHECK(data.size() + 2 == static_cast<unsigned char>(header[3]));
        if (header[5] == 'C') {
            CHECK(route == Route::Device);
            for (const char c : data) CHECK(static_cast<unsigned char>(c) < 100);
        } else {
            CHECK(header[5] == 'B' && data == segment.text);
        }
    }
    CHECK(next == w.size() - (route == Route::Device ? 1 : 3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string text = input;
    std::string orderId = "unset";
    if (splitOrderId(text, orderId)) {
        CHECK(input.find("<o_s>") == text.size());
        CHECK(input.compare(0, text.size(), text) == 0);
        CHECK(input.compare(text.size() + 5, orderId.size(), orderId) == 0);
        CHECK(input.compare(text.size() + 5 + orderId.size(), 5, "<o_e>") == 0);
    } else {
        CHECK(text == input && orderId == "unset");
    }
    for (const Route route : {Route::Spooler, Route::Device}) {
        const auto paragraphs = splitParagraphs(text, route);
        if (route == Route::Device) CHECK(!paragraphs.empty());
        for (const auto paragraph : paragraphs) {
            CHECK(within(paragraph, text));
            checkParagraph(paragraph, route);
        }
    }
    return 0;
}
