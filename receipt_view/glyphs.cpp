#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "receipt_view/receipt_view.h"

namespace receipt_view {

namespace {

struct LibraryDone {
    void operator()(FT_Library library) const { FT_Done_FreeType(library); }
};
struct FaceDone {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};
using LibraryHandle = std::unique_ptr<std::remove_pointer_t<FT_Library>, LibraryDone>;
using FaceHandle = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceDone>;

constexpr int kCellHeight = 24;

class FreeTypeGlyphs final : public Glyphs {
public:
    FreeTypeGlyphs(LibraryHandle library, FaceHandle face) : library_(std::move(library)), face_(std::move(face)) {
        FT_Set_Pixel_Sizes(face_.get(), 0, kCellHeight);
        // The baseline sits where the face's ascent, scaled into the cell's
        // height together with its descent, puts it.
        const FT_Size_Metrics& metrics = face_->size->metrics;
        const long ascent = metrics.ascender >> 6;
        const long descent = -(metrics.descender >> 6);
        baseline_ = ascent + descent > 0 ? static_cast<int>(ascent * kCellHeight / (ascent + descent)) : kCellHeight;
    }

    const Cell& cell(char32_t character, int width) override {
        const auto key = std::make_pair(character, width);
        auto found = cells_.find(key);
        if (found != cells_.end()) return found->second;
        return cells_.emplace(key, draw(character, width)).first->second;
    }

private:
    Cell draw(char32_t character, int width) {
        Cell cell;
        cell.width = width;
        cell.height = kCellHeight;
        cell.dots.assign(static_cast<std::size_t>(width) * kCellHeight, kPaper);
        const FT_UInt index = FT_Get_Char_Index(face_.get(), character);
        cell.found = index != 0 || character == U' ';
        if (!cell.found) {
            // A printer without the character prints its box; so does the picture.
            for (int y = 2; y < kCellHeight - 2; ++y)
                for (int x = 1; x < width - 1; ++x)
                    if (y == 2 || y == kCellHeight - 3 || x == 1 || x == width - 2) set(cell, x, y);
            return cell;
        }
        if (FT_Load_Glyph(face_.get(), index, FT_LOAD_TARGET_MONO) != 0 ||
            FT_Render_Glyph(face_->glyph, FT_RENDER_MODE_MONO) != 0)
            return cell;
        const FT_GlyphSlot slot = face_->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        // Glyphs narrower than the cell are centred in it, as a printer's font is.
        const int advance = static_cast<int>(slot->advance.x >> 6);
        const int left = (width - advance) / 2 + slot->bitmap_left;
        const int top = baseline_ - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            const unsigned char* line = bitmap.buffer + static_cast<long>(row) * bitmap.pitch;
            for (unsigned column = 0; column < bitmap.width; ++column)
                if (line[column / 8] & (0x80 >> (column % 8)))
                    set(cell, left + static_cast<int>(column), top + static_cast<int>(row));
        }
        return cell;
    }

    static void set(Cell& cell, int x, int y) {
        if (x >= 0 && x < cell.width && y >= 0 && y < cell.height)
            cell.dots[static_cast<std::size_t>(y) * cell.width + x] = kInk;
    }

    LibraryHandle library_;
    FaceHandle face_;
    int baseline_ = kCellHeight;
    std::map<std::pair<char32_t, int>, Cell> cells_;
};

}  // namespace

std::unique_ptr<Glyphs> Glyphs::open(const std::string& path, std::string_view family, std::string& error) {
    FT_Library rawLibrary = nullptr;
    if (FT_Init_FreeType(&rawLibrary) != 0) {
        error = "FreeType could not start";
        return nullptr;
    }
    LibraryHandle library(rawLibrary);
    // A collection holds several faces; the family names the one to draw with.
    for (FT_Long index = 0, count = 1; index < count; ++index) {
        FT_Face rawFace = nullptr;
        if (FT_New_Face(library.get(), path.c_str(), index, &rawFace) != 0) {
            error = "cannot open the font " + path;
            return nullptr;
        }
        FaceHandle face(rawFace);
        count = face->num_faces;
        if (family.empty() || (face->family_name != nullptr && family == face->family_name))
            return std::make_unique<FreeTypeGlyphs>(std::move(library), std::move(face));
    }
    error = "the font " + path + " has no face \"" + std::string(family) + "\"";
    return nullptr;
}

std::unique_ptr<Glyphs> Glyphs::openDefault(std::string& error) {
    if (const char* path = std::getenv("ORVANE_RECEIPT_FONT"); path != nullptr && *path != '\0')
        return open(path, "", error);
    return open(std::string(kDefaultFontPath), kDefaultFontFamily, error);
}

}  // namespace receipt_view
