#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "receipt_view/receipt_view.h"

namespace receipt_view {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// png_create_write_struct's pair, destroyed together on every path.
class PngWriter {
public:
    PngWriter() {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_ != nullptr) info_ = png_create_info_struct(png_);
    }
    ~PngWriter() { png_destroy_write_struct(&png_, info_ != nullptr ? &info_ : nullptr); }
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;
    bool valid() const { return png_ != nullptr && info_ != nullptr; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }

private:
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

// The four shades as a palette (paper, ink, cut line, gap between strips), two
// bits a dot: a quarter of the bytes of 8-bit grey to compress.
constexpr png_byte kGrey[] = {255, 0, 110, 200};
constexpr int kDotsPerByte = 4;

// libpng reports failures by longjmp; kept apart from any object with a
// destructor. `output` points the writer at its file or buffer.
template <typename Output>
bool writeRows(png_structp png, png_infop info, Output output, const Picture& picture, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    output(png);
    // Long runs of few shades compress well at the fastest level, and without
    // row filters, which only cost time on such rows.
    png_set_compression_level(png, 1);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 2,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[std::size(kGrey)];
    for (std::size_t i = 0; i < std::size(kGrey); ++i) palette[i] = {kGrey[i], kGrey[i], kGrey[i]};
    png_set_PLTE(png, info, palette, static_cast<int>(std::size(kGrey)));
    // 203 dpi, so a viewer shows the receipt at its printed size.
    png_set_pHYs(png, info, 8000, 8000, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    return true;
}

// The picture's rows as palette indices, the leftmost dot in a byte's high
// bits; `rows` points into `packed`.
bool greyRows(const Picture& picture, std::vector<png_byte>& packed, std::vector<png_bytep>& rows, std::string& error) {
    if (picture.width <= 0 || picture.height <= 0) {
        error = "nothing to draw: the picture is empty";
        return false;
    }
    const auto width = static_cast<std::size_t>(picture.width);
    const std::size_t rowBytes = (width + kDotsPerByte - 1) / kDotsPerByte;
    packed.resize(rowBytes * static_cast<std::size_t>(picture.height));
    rows.resize(static_cast<std::size_t>(picture.height));
    for (std::size_t y = 0; y < rows.size(); ++y) {
        png_bytep row = rows[y] = packed.data() + y * rowBytes;
        const std::uint8_t* dots = picture.dots.data() + y * width;
        std::size_t x = 0;
        for (; x + kDotsPerByte <= width; x += kDotsPerByte)
            *row++ = static_cast<png_byte>((dots[x] & 3) << 6 | (dots[x + 1] & 3) << 4 | (dots[x + 2] & 3) << 2 |
                                           (dots[x + 3] & 3));
        if (x < width) {
            png_byte last = 0;
            for (std::size_t k = 0; x + k < width; ++k) last |= static_cast<png_byte>((dots[x + k] & 3) << (6 - 2 * k));
            *row = last;
        }
    }
    return true;
}

struct Buffer {
    std::string* out;
    bool full = false;
};

// Called from C: a failed allocation must not unwind through libpng.
void appendToBuffer(png_structp png, png_bytep data, png_size_t length) {
    auto* buffer = static_cast<Buffer*>(png_get_io_ptr(png));
    try {
        buffer->out->append(reinterpret_cast<const char*>(data), length);
    } catch (const std::bad_alloc&) {
        buffer->full = true;
    }
    // Outside the handler: png_error does not return.
    if (buffer->full) png_error(png, "out of memory");
}

void flushNothing(png_structp) {}

}  // namespace

bool writePng(const Picture& picture, const std::string& path, std::string& error) {
    std::vector<png_byte> grey;
    std::vector<png_bytep> rows;
    if (!greyRows(picture, grey, rows, error)) return false;

    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    PngWriter writer;
    std::FILE* const stream = file.get();
    if (!writer.valid() ||
        !writeRows(writer.png(), writer.info(), [stream](png_structp png) { png_init_io(png, stream); }, picture, rows) ||
        std::fflush(file.get()) != 0 || std::ferror(file.get())) {
        error = "cannot write " + path + ": the PNG could not be written whole";
        return false;
    }
    if (std::fclose(file.release()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool encodePng(const Picture& picture, std::string& png, std::vector<std::uint8_t>& scratch, std::string& error) {
    std::vector<png_bytep> rows;
    if (!greyRows(picture, scratch, rows, error)) return false;
    png.clear();
    Buffer buffer{&png};
    PngWriter writer;
    const auto toBuffer = [&buffer](png_structp p) { png_set_write_fn(p, &buffer, appendToBuffer, flushNothing); };
    if (!writer.valid() || !writeRows(writer.png(), writer.info(), toBuffer, picture, rows)) {
        error = buffer.full ? "no memory for the PNG" : "the PNG could not be made";
        return false;
    }
    return true;
}

std::string textPreview(const Picture& picture, int columns) {
    if (picture.width <= 0 || columns <= 0) return {};
    const int blockWidth = (picture.width + columns - 1) / columns;
    const int blockHeight = blockWidth * 2;  // terminal cells are about twice as high as wide
    static constexpr char kShades[] = " .:-=+*#%@";
    std::string out;
    for (int top = 0; top < picture.height; top += blockHeight) {
        std::string line;
        bool cut = false;
        for (int left = 0; left < picture.width; left += blockWidth) {
            int ink = 0;
            int total = 0;
            for (int y = top; y < top + blockHeight && y < picture.height; ++y)
                for (int x = left; x < left + blockWidth && x < picture.width; ++x) {
                    ++total;
                    const std::uint8_t dot = picture.at(x, y);
                    ink += dot == kInk;
                    cut = cut || dot == kCutLine;
                }
            // Text covers a cell thinly; the scale saturates at a third inked.
            line += kShades[total > 0 ? std::min(9, ink * 27 / total) : 0];
        }
        if (cut) line.assign(line.size(), '~');
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

}  // namespace receipt_view
