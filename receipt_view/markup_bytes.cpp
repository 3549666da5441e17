#include "receipt_view/markup_bytes.h"

#include "binding/conversions.h"

namespace receipt_view {

MarkupPrint printMarkup(std::string_view utf8Receipt, Route route, unsigned codePage) {
    MarkupPrint out;
    // The add-on's own conversion; a named code page takes the place of the
    // locale's in its second half.
    out.text = codePage == platform::kAnsiCodePage ? binding::utf8ToAnsi(utf8Receipt)
                                                   : platform::wideToCodePage(codePage, binding::utf8ToWide(utf8Receipt));
    std::string text = out.text;
    if (route == Route::Device) {
        std::string orderId;
        binding::splitOrderId(text, orderId);
    }
    Collect sink(out.bytes);
    for (const std::string_view paragraph : binding::splitParagraphs(text, route)) {
        const auto segments = binding::tokenizeSegments(paragraph);
        // The device route opens no cycle for a paragraph without segments.
        if (route == Route::Device && segments.empty()) continue;
        const std::size_t start = out.bytes.size();
        binding::encodeParagraph(segments, route, sink);
        out.paragraphs.push_back({static_cast<std::size_t>(paragraph.data() - text.data()), paragraph.size(), start,
                                  out.bytes.size() - start});
    }
    return out;
}

}  // namespace receipt_view
