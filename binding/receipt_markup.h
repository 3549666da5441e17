// The receipt mark-up and its ESC/POS encoding.
//
// A receipt is plain bytes (already in the printer's code page) with up to
// three layers of mark-up: an order-id block "<o_s>id<o_e>" at the end (device
// route only), paragraphs "<p_s>...<p_e>", each printed as a unit of its own,
// and four-byte tags "<xy>" (x one of h w t i c b p, y one of 0 1 2 3 c b)
// that start the segments of a paragraph. Bytes before a paragraph's first
// tag are never printed.
//
// Use, per receipt:
//   device route:  splitOrderId, splitParagraphs(Route::Device), and for each
//                  paragraph tokenizeSegments; a paragraph with segments is one
//                  device open-write-close with encodeParagraph in between.
//   spooler route: splitParagraphs(Route::Spooler), and for each paragraph
//                  tokenizeSegments and one RAW document with encodeParagraph
//                  (also for a paragraph without segments).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace binding {

enum class Route {
    Spooler,  // RAW documents through the print spooler, one per paragraph
    Device,   // raw writes to a USB printer without a driver, one open per paragraph
};

// One tag of a paragraph and the bytes after it up to the next tag or the
// paragraph's end. Both are views: `command` into the tag table's constants,
// `text` into the paragraph, which must outlive the segment.
struct ReceiptSegment {
    // ESC/POS bytes, "center", "center-big", "<bc>" or "<pb>"; empty for a
    // tag-shaped token the table does not know.
    std::string_view command;
    std::string_view text;
};

// Where the encoded bytes of one paragraph go. Every call is one write of the
// route (one WriteFile on the device, one WritePrinter on the spooler page),
// in order; writes of no bytes are part of the sequence. Results are not
// examined by the encoding: the sink logs or ignores them.
class RouteSink {
public:
    virtual ~RouteSink() = default;
    virtual void write(std::string_view bytes) = 0;
};

// Cuts the order-id block off: on finding "<o_s>" and after it "<o_e>", the
// text keeps what precedes "<o_s>", `orderId` gets what lies between, and the
// result is true. Otherwise both stay as they were.
bool splitOrderId(std::string& text, std::string& orderId);

// The texts between "<p_s>" and the following "<p_e>", in order, as views into
// `text`; the search ends at a "<p_s>" without a later "<p_e>". Nesting is
// not recognised. The device route takes the whole text, even an empty one,
// as the one paragraph when no complete paragraph is found.
std::vector<std::string_view> splitParagraphs(std::string_view text, Route route);

// The segments of one paragraph in order; none for a paragraph without a tag.
std::vector<ReceiptSegment> tokenizeSegments(std::string_view paragraph);

// Sets `command` for a tag of the table and gives true; any other text gives
// false and leaves `command` untouched.
bool tagCommand(std::string_view tag, std::string_view& command);

// Barcode texts whose count byte cannot hold them: more data bytes than this
// are not sent as a barcode at all (the printer would take the rest of the
// paragraph as barcode data); the segment is logged and skipped.
inline constexpr std::size_t kMaxBarcodeData = 253;

// Writes one segment as its sequence of separate writes.
void encodeSegment(const ReceiptSegment& segment, Route route, RouteSink& sink);

// Writes one paragraph with the route's framing: ESC @, every segment, then
// "\n\n\n" on the device route, or "\n", "\n" and the paper cut on the
// spooler route.
void encodeParagraph(std::span<const ReceiptSegment> segments, Route route, RouteSink& sink);

}  // namespace binding
