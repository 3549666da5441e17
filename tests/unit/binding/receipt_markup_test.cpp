// Golden bytes of the receipt encoding, write by write, on both routes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/receipt_markup.h"

using namespace binding;

namespace {

using Writes = std::vector<std::string>;

class RecordingSink : public RouteSink {
public:
    void write(std::string_view bytes) override { writes.emplace_back(bytes); }
    Writes writes;
};

// The writes of one paragraph as the route frames it.
Writes encode(std::string_view paragraph, Route route) {
    RecordingSink sink;
    const auto segments = tokenizeSegments(paragraph);
    encodeParagraph(segments, route, sink);
    return sink.writes;
}

// The writes of the segments alone, without the framing.
Writes segmentWrites(std::string_view paragraph, Route route) {
    RecordingSink sink;
    for (const auto& segment : tokenizeSegments(paragraph)) encodeSegment(segment, route, sink);
    return sink.writes;
}

const std::string kInit = "\x1B\x40";
const std::string kLeft("\x1B\x61\x00", 3);
const std::string kCentre = "\x1B\x61\x01";
const std::string kBig = "\x1B\x21\x30";
const std::string kHeight = "\x1D\x68\x3C";
const std::string kWidth = "\x1D\x77\x02";
const std::string kCut = "\x1D\x56\x41\x01";

std::string barcodeHeader(int n, char codeSet) { return std::string{'\x1D', '\x6B', '\x49', static_cast<char>(n), '\x7B', codeSet}; }

Writes barcode(int n, char codeSet, const std::string& data) {
    return {kCentre, kHeight, kWidth, barcodeHeader(n, codeSet), data};
}

Writes operator+(Writes a, const Writes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ReceiptEncoding, WorkedExampleOnBothRoutes) {
    const std::string paragraph = "<c1>Table 5<h2>\nTea x2\n<bc>12345";
    const Writes body = {kCentre, kBig, "Table 5", kLeft, "\x1B\x21\x08", "\nTea x2\n",
                         kCentre, kHeight, kWidth, barcodeHeader(7, 'B'), "12345"};
    EXPECT_EQ(encode(paragraph, Route::Spooler), (Writes{kInit} + body + Writes{"\n", "\n", kCut}));
    EXPECT_EQ(encode(paragraph, Route::Device), Writes{kInit} + body + Writes{"\n\n\n"});
}

TEST(ReceiptEncoding, EveryTagOfTheTable) {
    const std::vector<std::pair<std::string, std::string>> modes = {
        {"<h1>", "\x1B\x21\x02"}, {"<h2>", "\x1B\x21\x08"}, {"<h3>", "\x1D\x21\x04"},
        {"<w1>", "\x1D\x21\x10"}, {"<w2>", "\x1D\x21\x20"}, {"<w3>", "\x1D\x21\x30"},
        {"<t1>", "\x1B\x21\x30"}, {"<t2>", "\x1B\x21\x38"}, {"<t3>", "\x1B\x21\x10"},
        {"<i0>", "\x1C\x21\x11\x1B\x21\x02"},
    };
    for (const auto& [tag, bytes] : modes) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(segmentWrites(tag + "x", Route::Device), (Writes{kLeft, bytes, "x"}));
    }
    EXPECT_EQ(segmentWrites("<c0>x", Route::Device), (Writes{kCentre, "x"}));
    EXPECT_EQ(segmentWrites("<c1>x", Route::Device), (Writes{kCentre, kBig, "x"}));
}

TEST(ReceiptEncoding, TagCommandKnowsOnlyTheTable) {
    std::string_view command = "kept";
    EXPECT_FALSE(tagCommand("<h0>", command));
    EXPECT_FALSE(tagCommand("<h1", command));
    EXPECT_FALSE(tagCommand("<h1>x", command));
    EXPECT_EQ(command, "kept");
    EXPECT_TRUE(tagCommand("<pb>", command));
    EXPECT_EQ(command, "<pb>");
    EXPECT_TRUE(tagCommand("<c1>", command));
    EXPECT_EQ(command, "center-big");
}

TEST(ReceiptEncoding, TextBeforeTheFirstTagIsDropped) {
    EXPECT_EQ(encode("Hello<h2>World", Route::Device), (Writes{kInit, kLeft, "\x1B\x21\x08", "World", "\n\n\n"}));
    EXPECT_TRUE(tokenizeSegments("no tags at all").empty());
    EXPECT_TRUE(tokenizeSegments("<h1").empty());
    EXPECT_TRUE(tokenizeSegments("").empty());
}

TEST(ReceiptEncoding, TagAtTheEndStillWritesItsCommandAndAnEmptyText) {
    EXPECT_EQ(segmentWrites("<h1>Total<w1>", Route::Device),
              (Writes{kLeft, "\x1B\x21\x02", "Total", kLeft, "\x1D\x21\x10", ""}));
    EXPECT_EQ(segmentWrites("<h1>", Route::Spooler), (Writes{kLeft, "\x1B\x21\x02", ""}));
    EXPECT_EQ(segmentWrites("<h1><w1>x", Route::Device),
              (Writes{kLeft, "\x1B\x21\x02", "", kLeft, "\x1D\x21\x10", "x"}));
}

TEST(ReceiptEncoding, UnknownTagShapedTokensStartPlainSegments) {
    EXPECT_EQ(segmentWrites("<h0>abc", Route::Device), (Writes{kLeft, "", "abc"}));
    EXPECT_EQ(segmentWrites("<pc>a<bb>b", Route::Spooler), (Writes{kLeft, "", "a", kLeft, "", "b"}));
    // Not tag-shaped: they stay in the text.
    EXPECT_EQ(segmentWrites("<h1>a<x1>b<h4>c<H1>d<h1 >", Route::Device),
              (Writes{kLeft, "\x1B\x21\x02", "a<x1>b<h4>c<H1>d<h1 >"}));
}

TEST(ReceiptEncoding, PbPrintsTheSameBarcodeAsBc) {
    for (const Route route : {Route::Spooler, Route::Device}) {
        EXPECT_EQ(segmentWrites("<pb>998877", route), segmentWrites("<bc>998877", route));
        EXPECT_EQ(segmentWrites("<pb>998877", route), barcode(8, 'B', "998877"));
    }
    EXPECT_EQ(segmentWrites("<bc>", Route::Device), barcode(2, 'B', ""));
}

TEST(ReceiptEncoding, DeviceBarcodesOf16To18Digits) {
    EXPECT_EQ(segmentWrites("<bc>1234567890123456", Route::Device), barcode(18, 'B', "1234567890123456"));
    EXPECT_EQ(segmentWrites("<bc>12345678901234567", Route::Device),
              barcode(11, 'C', "\x01\x17\x2D\x43\x59\x01\x17\x2D\x43"));
    EXPECT_EQ(segmentWrites("<bc>123456789012345678", Route::Device),
              barcode(11, 'C', "\x0C\x22\x38\x4E\x5A\x0C\x22\x38\x4E"));
    EXPECT_EQ(segmentWrites("<bc>00000000000000000", Route::Device), barcode(11, 'C', std::string(9, '\0')));
}

TEST(ReceiptEncoding, LongBarcodesWithNonDigitsAndOnTheSpoolerStayInCodeSetB) {
    EXPECT_EQ(segmentWrites("<bc>1234567890123456A", Route::Device), barcode(19, 'B', "1234567890123456A"));
    EXPECT_EQ(segmentWrites("<bc>12345678 01234567", Route::Device), barcode(19, 'B', "12345678 01234567"));
    EXPECT_EQ(segmentWrites("<bc>12345678901234567", Route::Spooler), barcode(19, 'B', "12345678901234567"));
}

TEST(ReceiptEncoding, BarcodesBeyondTheCountByteAreSkippedAndTheNextSegmentFollows) {
    const std::string b253(253, 'A');
    const std::string b254(254, 'A');
    EXPECT_EQ(segmentWrites("<bc>" + b253, Route::Spooler), barcode(255, 'B', b253));
    EXPECT_EQ(segmentWrites("<bc>" + b254 + "<h2>after", Route::Spooler), (Writes{kLeft, "\x1B\x21\x08", "after"}));
    EXPECT_EQ(segmentWrites("<bc>" + b254, Route::Device), Writes{});

    const std::string c506(506, '7');  // 253 packed bytes
    const std::string c507(507, '7');  // 254 packed bytes
    const Writes fits = segmentWrites("<bc>" + c506, Route::Device);
    ASSERT_EQ(fits.size(), 5u);
    EXPECT_EQ(fits[3], barcodeHeader(255, 'C'));
    EXPECT_EQ(fits[4], std::string(253, static_cast<char>(77)));
    EXPECT_EQ(segmentWrites("<bc>" + c507 + "<c0>x", Route::Device), (Writes{kCentre, "x"}));
    // On the spooler the same digits are code set B text, far beyond its limit.
    EXPECT_EQ(segmentWrites("<bc>" + c506, Route::Spooler), Writes{});
}

TEST(ReceiptParagraphs, MarkersInEveryArrangement) {
    using P = std::vector<std::string_view>;
    EXPECT_EQ(splitParagraphs("<p_s>a<p_e>x<p_s>b<p_e>", Route::Spooler), (P{"a", "b"}));
    EXPECT_EQ(splitParagraphs("<p_s>a<p_s>b<p_e>", Route::Spooler), (P{"a<p_s>b"}));
    EXPECT_EQ(splitParagraphs("<p_s>one<p_e><p_s>two<p_e_<p_s>three", Route::Spooler), (P{"one"}));
    EXPECT_EQ(splitParagraphs("<p_e>x<p_s>y<p_e>z<p_e>", Route::Spooler), (P{"y"}));
    EXPECT_EQ(splitParagraphs("<p_s><p_e>", Route::Spooler), (P{""}));
    EXPECT_EQ(splitParagraphs("<p_s>a<p_e><p_s>", Route::Device), (P{"a"}));
    // Without a complete paragraph: nothing on the spooler, the whole text on the device.
    EXPECT_EQ(splitParagraphs("<h1>no paragraph", Route::Spooler), P{});
    EXPECT_EQ(splitParagraphs("<h1>no paragraph", Route::Device), (P{"<h1>no paragraph"}));
    EXPECT_EQ(splitParagraphs("<p_s>open", Route::Device), (P{"<p_s>open"}));
    EXPECT_EQ(splitParagraphs("", Route::Spooler), P{});
    EXPECT_EQ(splitParagraphs("", Route::Device), (P{""}));
}

TEST(ReceiptParagraphs, AParagraphWithoutTagsIsABlankCutOnTheSpooler) {
    const auto paragraphs = splitParagraphs("<p_s>plain<p_e>", Route::Spooler);
    ASSERT_EQ(paragraphs.size(), 1u);
    EXPECT_EQ(encode(paragraphs[0], Route::Spooler), (Writes{kInit, "\n", "\n", kCut}));
}

TEST(ReceiptOrderId, MarkersInEveryPosition) {
    struct Case {
        std::string in;
        bool found;
        std::string text;
        std::string id;
    };
    const std::vector<Case> cases = {
        {"<p_s><h1>a<p_e><o_s>A-42<o_e>", true, "<p_s><h1>a<p_e>", "A-42"},
        {"<p_s><h1>a<p_e><o_s>7<o_e>tail<p_s>b<p_e>", true, "<p_s><h1>a<p_e>", "7"},
        {"<o_s>1<o_e><p_s><h1>a<p_e>", true, "", "1"},
        {"<p_s><h1>a<o_s>2<o_e>b<p_e>", true, "<p_s><h1>a", "2"},
        {"x<o_s><o_e>", true, "x", ""},
        {"<o_s>1<o_s>2<o_e><o_e>", true, "", "1<o_s>2"},
        {"<o_e>3<o_s>x", false, "<o_e>3<o_s>x", "before"},
        {"<o_e>3<o_s>", false, "<o_e>3<o_s>", "before"},
        {"<p_s>a<p_e><o_s>4", false, "<p_s>a<p_e><o_s>4", "before"},
        {"<p_s>a<p_e>4<o_e>", false, "<p_s>a<p_e>4<o_e>", "before"},
        {"<o_s>", false, "<o_s>", "before"},
        {"", false, "", "before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        std::string text = c.in;
        std::string id = "before";
        EXPECT_EQ(splitOrderId(text, id), c.found);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(id, c.id);
    }
}

TEST(ReceiptOrderId, OnTheDeviceRouteAnIdBeforeTheParagraphsLeavesNothingToPrint) {
    std::string text = "<o_s>9<o_e><p_s><h1>a<p_e>";
    std::string id;
    ASSERT_TRUE(splitOrderId(text, id));
    const auto paragraphs = splitParagraphs(text, Route::Device);
    ASSERT_EQ(paragraphs.size(), 1u);
    EXPECT_TRUE(tokenizeSegments(paragraphs[0]).empty());
}

TEST(ReceiptOrderId, OnTheSpoolerRouteTheMarkersArePrintedAsText) {
    const auto paragraphs = splitParagraphs("<p_s><h1>a<o_s>5<o_e><p_e>", Route::Spooler);
    ASSERT_EQ(paragraphs.size(), 1u);
    EXPECT_EQ(segmentWrites(paragraphs[0], Route::Spooler), (Writes{kLeft, "\x1B\x21\x02", "a<o_s>5<o_e>"}));
}

}  // namespace
