#include "markup_bytes.h"

#include "conversions.h"

namespace receipt_view {

namespace {

class Collect final : public RouteSink {
public:
    explicit Collect(std::string& out) : out_(out) {}
    void write(std::string_view bytes) override { out_.append(bytes); }

private:
    std::string& out_;
};

}  // namespace

std::string markupBytes(std::string_view utf8Receipt, Route route) {
    std::string text = utf8ToAnsi(utf8Receipt);
    std::string out;
    Collect sink(out);
    if (route == Route::Device) {
        std::string orderId;
        splitOrderId(text, orderId);
    }
    for (const std::string_view paragraph : splitParagraphs(text, route)) {
        const auto segments = tokenizeSegments(paragraph);
        // The device route opens no cycle for a paragraph without segments.
        if (route == Route::Device && segments.empty()) continue;
        encodeParagraph(segments, route, sink);
    }
    return out;
}

}  // namespace receipt_view
