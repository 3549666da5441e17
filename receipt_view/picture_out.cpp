#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "receipt_view.h"

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

constexpr png_byte kGrey[] = {255, 0, 110, 200};  // paper, ink, cut line, gap between strips

// libpng reports failures by longjmp; kept apart from any object with a destructor.
bool writeRows(png_structp png, png_infop info, std::FILE* file, const Picture& picture,
               std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    // Two shades in long runs compress well at the fastest level too.
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // 203 dpi, so a viewer shows the receipt at its printed size.
    png_set_pHYs(png, info, 8000, 8000, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool writePng(const Picture& picture, const std::string& path, std::string& error) {
    if (picture.width <= 0 || picture.height <= 0) {
        error = "nothing to draw: the picture is empty";
        return false;
    }
    std::vector<png_byte> grey(picture.dots.size());
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = kGrey[picture.dots[i] & 3];
    std::vector<png_bytep> rows(static_cast<std::size_t>(picture.height));
    for (int y = 0; y < picture.height; ++y) rows[y] = grey.data() + static_cast<std::size_t>(y) * picture.width;

    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    PngWriter writer;
    if (!writer.valid() || !writeRows(writer.png(), writer.info(), file.get(), picture, rows) ||
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
