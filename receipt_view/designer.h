// The receipt designer's answer for one text: the bytes the add-on would send
// for it, the paper a printer makes of them, the order id the client would get
// back, and what a template author should be told before printing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "receipt_view/markup_bytes.h"
#include "receipt_view/receipt_view.h"

namespace receipt_view {

// Longer texts are refused: a receipt template is a few kilobytes.
inline constexpr std::size_t kMaxDesignText = std::size_t{1} << 20;

// The ANSI code pages a merchant's Windows converts receipts to: Chinese, and
// that of Western systems, whose ASCII is every template's common ground.
inline constexpr unsigned kChineseCodePage = 936;
inline constexpr unsigned kWesternCodePage = 1252;

struct DesignRequest {
    std::string_view text;  // as typed (UTF-8) or as a file holds it
    Route route = Route::Device;
    Paper paper;
    int paperMillimetres = 80;
    unsigned codePage = kChineseCodePage;
};

struct Warning {
    std::string kind;  // a stable name, e.g. "barcode-too-wide"
    int line = 0;      // of the text, from 1
    std::string message;
};

struct Design {
    MarkupPrint print;
    Rendering rendering;
    std::vector<Warning> warnings;
    bool orderIdReported = false;
    std::string orderId;      // as the client gets it back (UTF-8)
    std::string orderIdNote;  // which call gives it, or why none does
};

// What the author should know of `request.text` on its route and paper,
// in the order of the text.
std::vector<Warning> markupWarnings(const DesignRequest& request, const MarkupPrint& print);

Design design(const DesignRequest& request, Glyphs& glyphs);
// The same into `out`, reusing the picture's memory.
void design(const DesignRequest& request, Glyphs& glyphs, Design& out);

// The designer page's answer: the design with the bytes and `png` in Base64.
std::string designJson(const Design& design, std::string_view png);

// The length of the well-formed UTF-8 sequence `text` starts with; 0 when it
// starts with none.
std::size_t utf8SequenceLength(std::string_view text);

}  // namespace receipt_view
