// What the designer tells a template author, one table: each mistake the
// mark-up allows, on the route and paper where it matters and where it does
// not, with the line it names. Then the order id the client gets back, and
// the code page chosen on the page against the one the locale gives.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "receipt_view/designer.h"

namespace {

using binding::Route;
using receipt_view::DesignRequest;
using receipt_view::kChineseCodePage;
using receipt_view::kWesternCodePage;

DesignRequest request(const std::string& text, Route route, int paper = 80, unsigned codePage = kChineseCodePage) {
    DesignRequest r;
    r.text = text;
    r.route = route;
    r.paperMillimetres = paper;
    r.paper = *receipt_view::paperForMillimetres(paper);
    r.codePage = codePage;
    return r;
}

std::vector<std::string> warningsOf(const DesignRequest& r) {
    std::vector<std::string> found;
    for (const auto& w : receipt_view::markupWarnings(r, receipt_view::printMarkup(r.text, r.route, r.codePage)))
        found.push_back(w.kind + "@" + std::to_string(w.line));
    return found;
}

struct WarningCase {
    const char* name;
    std::string text;
    Route route;
    int paper;
    unsigned codePage;
    std::vector<std::string> expected;  // kind@line, in the order of the text
};

const std::string kLetters14 = "ABCDEFGHIJKLMN";  // 378 dots at module width 2: fits 58 mm (384)
const std::string kDigits28 = "1234567890123456789012345678";

std::vector<WarningCase> warningCases() {
    const auto D = Route::Device, S = Route::Spooler;
    const unsigned zh = kChineseCodePage, west = kWesternCodePage;
    return {
        {"CleanReceipt", "<p_s><c1>Tea House\n<h1>Tea x2  8.00\n<bc>A-1001<p_e>\n<o_s>A-1001<o_e>\n", D, 80, zh, {}},
        {"CleanOnSpooler", "<p_s><c1>Tea House\n<h1>Tea\n<p_e>\n<p_s><h1>Bye\n<p_e>", S, 58, zh, {}},
        {"OutsideBetween", "<p_s><h1>a\n<p_e>\nThanks\n<p_s><h1>b\n<p_e>", D, 80, zh, {"outside-paragraph@3"}},
        {"OutsideBeforeAndAfter", "Hi\n<p_s><h1>a\n<p_e>\nbye", S, 80, zh, {"outside-paragraph@1", "outside-paragraph@4"}},
        {"OrderBlockIsNotOutsideOnSpooler", "<p_s><h1>a\n<p_e><o_s>7<o_e>", S, 80, zh, {}},
        {"NoParagraphDevice", "<h1>plain", D, 80, zh, {"no-paragraph@1"}},
        {"NoParagraphSpooler", "<h1>plain", S, 80, zh, {"no-paragraph@1"}},
        {"Unclosed", "<p_s><h1>a<p_e>\n<p_s><h1>b\nc", S, 80, zh, {"unclosed-paragraph@2"}},
        {"UnclosedOnlyDevice", "<p_s><h1>b\nc", D, 80, zh, {"no-paragraph@1", "before-first-tag@1"}},
        {"BeforeFirstTag", "<p_s>Hello<h2>World<p_e>", D, 80, zh, {"before-first-tag@1"}},
        {"NoTagDevice", "<p_s>\nHello\n<p_e>", D, 80, zh, {"before-first-tag@2"}},
        {"BlankBeforeFirstTag", "<p_s>\n  <h2>World<p_e>", D, 80, zh, {}},
        {"UnknownTags", "<p_s><h1>a\n<h0>b\n<pc>c<bb>\n<x1>d<p_e>", D, 80, zh, {"unknown-tag@2", "unknown-tag@3", "unknown-tag@3"}},
        {"BarcodeFits58", "<p_s><bc>" + kLetters14 + "<p_e>", D, 58, zh, {}},
        {"BarcodeTooWide58", "<p_s><h1>x\n<bc>" + kLetters14 + "O<p_e>", D, 58, zh, {"barcode-too-wide@2"}},
        {"BarcodeFits80", "<p_s><bc>" + kLetters14 + "OPQRSTUVW<p_e>", S, 80, zh, {}},
        {"BarcodeTooWide80", "<p_s><bc>" + kLetters14 + "OPQRSTUVWX<p_e>", S, 80, zh, {"barcode-too-wide@1"}},
        {"DigitsPackedFit58", "<p_s><pb>" + kDigits28 + "<p_e>", D, 58, zh, {}},
        {"DigitsPackedTooWide58", "<p_s><pb>" + kDigits28 + "9<p_e>", D, 58, zh, {"barcode-too-wide@1"}},
        {"DigitsUnpackedOnSpooler", "<p_s><pb>" + kDigits28 + "<p_e>", S, 58, zh, {"barcode-too-wide@1"}},
        {"BarcodeWithLineFeed", "<p_s><bc>A-1\n<p_e>", D, 80, zh, {"barcode-not-printed@1"}},
        {"BarcodeOverCountByte", "<p_s><bc>" + std::string(254, 'A') + "<p_e>", S, 80, zh, {"barcode-not-printed@1"}},
        {"OrderIdNotLast", "<p_s><h1>a<p_e>\n<o_s>1<o_e>\n<p_s><h1>b<p_e>", D, 80, zh, {"order-id-not-last@2"}},
        {"OrderIdNotLastSpooler", "<o_s>1<o_e><p_s><h1>b<p_e>", S, 80, zh, {"order-id-not-last@1"}},
        {"OrderIdInsideParagraph", "<p_s><h1>a<o_s>1<o_e>b<p_e>", S, 80, zh, {"order-id-not-last@1", "order-id-printed@1"}},
        {"OrderIdIncomplete", "<p_s><h1>a<p_e>\n<o_e>1<o_s>", D, 80, zh, {"order-id-incomplete@2", "outside-paragraph@2"}},
        {"InvalidUtf8", "<p_s><h1>a\n\xB4\xF2<p_e>", D, 80, zh, {"invalid-utf8@2", "invalid-utf8@2"}},
        {"Overlong", "<p_s><h1>\xC0\xBC<p_e>", D, 80, zh, {"invalid-utf8@1", "invalid-utf8@1"}},
        {"ZeroByte", std::string("<p_s><h1>a<p_e>\n\0<p_s><h1>b<p_e>", 32), D, 80, zh, {"zero-byte@2"}},
        {"ChineseIn936", "<p_s><h1>谢谢\n<p_e>", D, 80, zh, {}},
        {"NotIn936", "<p_s><h1>a\nñ€😀<p_e>", D, 80, zh, {"not-in-code-page@2", "not-in-code-page@2"}},
        {"ChineseInWestern", "<p_s><h1>a\né谢<p_e>", S, 80, west, {"not-ascii@2", "not-in-code-page@2"}},
        {"AsciiInWestern", "<p_s><h1>Tea x2<p_e>", S, 80, west, {}},
    };
}

void PrintTo(const WarningCase& c, std::ostream* out) { *out << c.name; }

class DesignerWarnings : public testing::TestWithParam<WarningCase> {};

TEST_P(DesignerWarnings, NamesEachMistakeAndItsLine) {
    const WarningCase& c = GetParam();
    EXPECT_EQ(warningsOf(request(c.text, c.route, c.paper, c.codePage)), c.expected);
}

std::string warningCaseName(const testing::TestParamInfo<WarningCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Table, DesignerWarnings, testing::ValuesIn(warningCases()), warningCaseName);

TEST(DesignerWarnings, ManyOfAKindAreSummed) {
    std::string text = "<p_s>";
    for (int i = 0; i < 50; ++i) text += "<h0>x\n";
    text += "<p_e>";
    const auto r = request(text, Route::Device);
    const auto warnings = receipt_view::markupWarnings(r, receipt_view::printMarkup(r.text, r.route, r.codePage));
    ASSERT_EQ(warnings.size(), 21u);
    EXPECT_EQ(warnings[19].line, 20);
    EXPECT_EQ(warnings.back().message, "30 more like the above");
}

struct OrderCase {
    const char* text;
    Route route;
    bool reported;
    const char* id;
};

TEST(DesignerOrderId, AsTheClientGetsItBack) {
    const std::vector<OrderCase> cases = {
        {"<p_s><h1>a<p_e><o_s>A-1001<o_e>", Route::Device, true, "A-1001"},
        {"<p_s><h1>a<p_e><o_s>单号 7<o_e>", Route::Spooler, true, "单号 7"},
        // Recorded by the device route even with nothing printed; the
        // spooler tracks no receipt without a document.
        {"<o_s>9<o_e>", Route::Device, true, "9"},
        {"<o_s>9<o_e>", Route::Spooler, false, "9"},
        {"<p_s><h1>a<p_e><o_s><o_e>", Route::Device, false, ""},
        {"<p_s><h1>a<p_e><o_e>1<o_s>", Route::Device, false, ""},
        {"<p_s><h1>a<p_e>", Route::Spooler, false, ""},
    };
    std::string error;
    const auto glyphs = receipt_view::Glyphs::openDefault(error);
    ASSERT_TRUE(glyphs) << error;
    for (const OrderCase& c : cases) {
        const receipt_view::Design d = receipt_view::design(request(c.text, c.route), *glyphs);
        EXPECT_EQ(d.orderIdReported, c.reported) << c.text << ": " << d.orderIdNote;
        EXPECT_EQ(d.orderId, c.id) << c.text;
    }
}

TEST(DesignerCodePage, NamedCodePageGivesWhatTheLocaleGives) {
    // The suite runs under zh_CN, whose ANSI code page is 936.
    const std::string text = "<p_s><c1>谢谢惠顾 Thanks\n<bc>123456789012345678<p_e><o_s>1<o_e>";
    for (const Route route : {Route::Device, Route::Spooler}) {
        const auto named = receipt_view::printMarkup(text, route, kChineseCodePage);
        EXPECT_EQ(named.bytes, receipt_view::markupBytes(text, route));
        EXPECT_NE(named.bytes.find("\xD0\xBB\xD0\xBB"), std::string::npos) << "谢谢 in code page 936";
    }
    const auto western = receipt_view::printMarkup("<p_s><h1>é谢<p_e>", Route::Spooler, kWesternCodePage);
    EXPECT_NE(western.bytes.find("\xE9?"), std::string::npos);
}

}  // namespace
