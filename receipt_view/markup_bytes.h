// The bytes a printer receives for a receipt in the mark-up, made by the
// add-on's own encoder, so a picture shows what the add-on sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "binding/receipt_markup.h"

namespace receipt_view {

// The view speaks the encoder's own terms.
using binding::ReceiptSegment;
using binding::Route;
using binding::RouteSink;

// Appends every write of the encoder to one string.
class Collect final : public RouteSink {
public:
    explicit Collect(std::string& out) : out_(out) {}
    void write(std::string_view bytes) override { out_.append(bytes); }

private:
    std::string& out_;
};

// One paragraph the route prints: one device cycle or one spooler document.
struct PrintedParagraph {
    std::size_t textOffset = 0;  // of its first byte (after "<p_s>") in MarkupPrint::text
    std::size_t textLength = 0;
    std::size_t byteOffset = 0;  // of its ESC @ in MarkupPrint::bytes
    std::size_t byteLength = 0;
};

struct MarkupPrint {
    std::string text;   // the whole receipt in the code page, before the order id is cut off
    std::string bytes;  // every printed paragraph, one after another
    std::vector<PrintedParagraph> paragraphs;
};

// `utf8Receipt` as a script passes it, converted as the add-on converts it:
// to the ANSI code page of the locale, or to `codePage` when one is named (as
// under a Windows whose ANSI code page that is). Then every paragraph the
// route prints, in turn.
MarkupPrint printMarkup(std::string_view utf8Receipt, Route route, unsigned codePage = platform::kAnsiCodePage);

inline std::string markupBytes(std::string_view utf8Receipt, Route route) {
    return printMarkup(utf8Receipt, route).bytes;
}

}  // namespace receipt_view
