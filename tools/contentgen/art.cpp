// The game's pictures: the sprite sheets "PNG" 102-104, painted cell block by cell block as the role map in
// content/art/cell_roles.txt says, and the full-screen pictures "CG" 110-156 from content/art/pictures.txt. Everything
// is checked before it is written; a contact sheet of the three sheets and the heads-up display's rows goes beside
// them for review. Build machine, single-threaded.
#include "art.h"

#include <algorithm>

namespace
{

const char *ROLE_FILE = "content/art/cell_roles.txt";
const char *PICTURE_FILE = "content/art/pictures.txt";
constexpr int FIRST_PICTURE = 110, FIRST_EVENT_PICTURE = 111, LAST_PICTURE = 156;

RgbImage ToImage(const Canvas &canvas)
{
    RgbImage image;
    image.width = canvas.width;
    image.height = canvas.height;
    image.rgb.resize(static_cast<size_t>(canvas.width) * canvas.height * 3);
    for (size_t i = 0; i < canvas.pixels.size(); i++) {
        image.rgb[i * 3] = canvas.pixels[i].r;
        image.rgb[i * 3 + 1] = canvas.pixels[i].g;
        image.rgb[i * 3 + 2] = canvas.pixels[i].b;
    }
    return image;
}

// Copies a painted block into its sheet: uncovered pixels stay black (the key); covered ones are kept clear of
// the colours that the 16-bit screen format would turn into the key.
void PlaceBlock(Canvas &sheet, const Canvas &block, int x0, int y0)
{
    for (int y = 0; y < block.height; y++) {
        for (int x = 0; x < block.width; x++) {
            if (!block.Cover(x, y)) {
                continue;
            }
            Rgb c = block.Get(x, y);
            if (TurnsBlack565(c.r, c.g, c.b)) {
                c = Rgb{12, 10, 16};
            }
            sheet.At(x0 + x, y0 + y) = c;
        }
    }
}

// Draws cell `cell` of a sheet at (x, y) of the target, keyed (black skipped) or opaque.
void DrawCell(Canvas &target, const RgbImage &sheet, const SheetLayout &layout, int cell, int x, int y, bool keyed)
{
    const int sx = (cell % layout.perRow) * layout.cellWidth, sy = (cell / layout.perRow) * layout.cellHeight;
    for (int dy = 0; dy < layout.cellHeight; dy++) {
        for (int dx = 0; dx < layout.cellWidth; dx++) {
            const uint8_t *p = sheet.rgb.data() + (static_cast<size_t>(sy + dy) * sheet.width + sx + dx) * 3;
            if (!keyed || p[0] || p[1] || p[2]) {
                if (target.Inside(x + dx, y + dy)) {
                    target.At(x + dx, y + dy) = Rgb{p[0], p[1], p[2]};
                }
            }
        }
    }
}

void DrawNumber(Canvas &target, int value, int x, int y, const RgbImage &tiles)
{
    for (int k = 0, divisor = 1000000; k < 7; k++, divisor /= 10) {
        DrawCell(target, tiles, SheetOf(103), 10 + value / divisor % 10, x + 16 * k, y, true);
    }
}

// The contact sheet: every cell of the three sheets with its number (black shown as a dark checker), then the
// title's label and digit row and the heads-up display laid out as the game draws them.
Canvas ContactSheet(const std::vector<SheetImage> &sheets, const Canvas &title)
{
    const int margin = 8;
    Canvas out(2 * margin + 20 * 36, 1520);
    FillRect(out, 0, 0, out.width, out.height, HexRgb(0x202028));
    int y = margin;
    for (const SheetImage &sheet : sheets) {
        const SheetLayout &layout = SheetOf(sheet.id);
        DrawText(out, margin, y, "PNG " + std::to_string(sheet.id), 1, HexRgb(0xFFFFFF));
        y += 12;
        for (int cell = 0; cell < layout.count; cell++) {
            const int x = margin + (cell % layout.perRow) * (layout.cellWidth + 4);
            const int top = y + (cell / layout.perRow) * (layout.cellHeight + 10);
            DrawText(out, x, top, std::to_string(cell), 1, HexRgb(0xB0B0C0), true);
            for (int dy = 0; dy < layout.cellHeight; dy++) {
                for (int dx = 0; dx < layout.cellWidth; dx++) {
                    out.At(x + dx, top + 7 + dy) = ((dx / 4 + dy / 4) % 2) ? HexRgb(0x34343E) : HexRgb(0x2A2A32);
                }
            }
            DrawCell(out, sheet.image, layout, cell, x, top + 7, true);
        }
        y += (layout.count / layout.perRow) * (layout.cellHeight + 10) + 6;
    }
    const RgbImage &tiles = sheets[1].image;
    const SheetLayout &layout = SheetOf(103);
    // The title: the picture's top, the high-score label at x 0-96 and the digits from x 112, all at y 0.
    DrawText(out, margin, y, "TITLE", 1, HexRgb(0xFFFFFF));
    y += 12;
    for (int dy = 0; dy < 40; dy++) {
        for (int dx = 0; dx < title.width; dx++) {
            out.At(margin + dx, y + dy) = title.Get(dx, dy);
        }
    }
    for (int i = 0; i < 4; i++) {
        DrawCell(out, tiles, layout, 36 + i, margin + 32 * i, y, true);
    }
    DrawNumber(out, 1234567, margin + 112, y, tiles);
    y += 48;
    // Stage play: scenery tiles, then the display rows in the frame step's order.
    DrawText(out, margin, y, "STAGE DISPLAY", 1, HexRgb(0xFFFFFF));
    y += 12;
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 20; c++) {
            DrawCell(out, tiles, layout, r < 2 ? 61 : 86, margin + 32 * c, y + 32 * r, false);
        }
    }
    const int x = margin;
    for (int i = 0; i < 4; i++) {
        DrawCell(out, tiles, layout, 36 + i, x + 16 + 32 * i, y + 16, true);
    }
    DrawNumber(out, 9876543, x + 128, y + 16, tiles);
    for (int i = 0; i < 3; i++) {
        DrawCell(out, tiles, layout, 37 + i, x + 48 + 32 * i, y + 32, true);
    }
    DrawNumber(out, 42100, x + 128, y + 32, tiles);
    DrawCell(out, tiles, layout, 44, x + 64, y + 48, true);
    DrawCell(out, tiles, layout, 45, x + 96, y + 48, true);
    DrawNumber(out, 50000, x + 128, y + 48, tiles);
    for (int row = 0; row < 2; row++) {
        const int gy = y + 16 + 16 * row;
        DrawCell(out, tiles, layout, 56 + row, x + 254, gy, true);
        DrawCell(out, tiles, layout, 51, x + 272, gy, true);
        DrawCell(out, tiles, layout, 53, x + 624, gy, true);
        for (int k = 288; k <= 608; k += 16) {
            DrawCell(out, tiles, layout, 52, x + k, gy, true);
        }
        for (int k = 0; k < (row ? 25 : 42); k++) {
            DrawCell(out, tiles, layout, 54 + row, x + 288 + 8 * k, gy, true);
        }
        if (row == 0) {
            for (int i = 0; i <= 3 - 2; i++) { // three lives: two spare icons
                DrawCell(out, tiles, layout, 43, x + 608 - 16 * i, y + 48, true);
            }
        }
    }
    for (int i = 0; i < 3; i++) {
        DrawCell(out, tiles, layout, 102 + i, x + 544 + 32 * i, y, true);
    }
    // Overlap of the display with the right edge of the screen, as the screen clips it.
    FillRect(out, x + 640, y, out.width, y + 96, HexRgb(0x202028));
    y += 104;
    DrawText(out, margin, y, "BANNERS", 1, HexRgb(0xFFFFFF));
    y += 12;
    for (int i = 0; i < 10; i++) {
        DrawCell(out, tiles, layout, i, margin + 32 * i, y, false);
    }
    for (int i = 0; i < 3; i++) {
        DrawCell(out, tiles, layout, 40 + i, margin + 360 + 32 * i, y, true);
    }
    for (int i = 0; i < 11; i++) {
        DrawCell(out, tiles, layout, 20 + i, margin + 32 * i, y + 40, false);
    }
    for (int i = 0; i < 5; i++) {
        DrawCell(out, tiles, layout, 31 + i, margin + 400 + 32 * i, y + 40, false);
    }
    return out;
}

} // namespace

std::string GenerateArt(const std::string &folder)
{
    std::vector<CellRole> roles;
    std::vector<PictureRecipe> recipes;
    std::string failure = ReadCellRoles(ROLE_FILE, roles);
    if (failure.empty()) {
        failure = ReadPictureRecipes(PICTURE_FILE, recipes);
    }
    if (!failure.empty()) {
        return failure;
    }
    // Pictures first: the thumbnails are made from them.
    std::vector<Canvas> canvases;
    std::vector<RgbImage> pictures;
    for (int id = FIRST_PICTURE; id <= LAST_PICTURE; id++) {
        const auto recipe = std::find_if(recipes.begin(), recipes.end(), [id](const auto &r) { return r.id == id; });
        if (recipe == recipes.end()) {
            return "CG " + std::to_string(id) + ": no line in " + PICTURE_FILE;
        }
        canvases.emplace_back(640, 480);
        failure = PaintPicture(*recipe, canvases.back());
        if (!failure.empty()) {
            return "CG " + std::to_string(id) + ": " + failure;
        }
        pictures.push_back(ToImage(canvases.back()));
    }
    std::vector<SheetImage> sheets;
    for (int id : {102, 103, 104}) {
        const SheetLayout &layout = SheetOf(id);
        Canvas sheet(layout.width, layout.height);
        for (const CellRole &role : roles) {
            if (role.sheet != id || role.role == "unused") {
                continue;
            }
            Canvas block(role.columns * layout.cellWidth, role.rows * layout.cellHeight);
            const std::string where = "PNG " + std::to_string(id) + " cell " + std::to_string(role.first) + ": ";
            if (id == 102) {
                failure = PaintSprite(role, block);
            } else if (id == 103) {
                failure = PaintTile(role, block);
            } else if (role.role == "thumbnail") {
                const int picture =
                    std::atoi(role.attributes.count("picture") ? role.attributes.at("picture").c_str() : "");
                if (picture < FIRST_EVENT_PICTURE || picture > LAST_PICTURE) {
                    return where + "thumbnail needs picture=111..156";
                }
                PaintThumbnail(canvases[picture - FIRST_PICTURE], role.first, block);
            } else if (role.role == "locked") {
                PaintLockedThumbnail(block);
            } else {
                failure = "no painter for " + role.role;
            }
            if (!failure.empty()) {
                return where + failure;
            }
            PlaceBlock(sheet, block, (role.first % layout.perRow) * layout.cellWidth,
                       (role.first / layout.perRow) * layout.cellHeight);
        }
        sheets.push_back({id, ToImage(sheet)});
    }
    if (!WritePng(folder + "/contact_sheet.png", ToImage(ContactSheet(sheets, canvases[0])))) {
        return "contact_sheet.png: cannot write";
    }
    // Every failed check is listed, one line each, so that a change can be mended in one round.
    std::vector<std::string> failures = CheckSheets(sheets, roles);
    for (const std::string &line : CheckPictures(pictures, FIRST_PICTURE, FIRST_EVENT_PICTURE)) {
        failures.push_back(line);
    }
    for (const std::string &line : failures) {
        failure += (failure.empty() ? "" : "\nqvcontent: ") + line;
    }
    if (!failure.empty()) {
        return failure;
    }
    for (const SheetImage &sheet : sheets) {
        if (!WritePng(folder + "/" + ContentFileName("PNG", sheet.id), sheet.image)) {
            return "PNG " + std::to_string(sheet.id) + ": cannot write";
        }
    }
    for (size_t i = 0; i < pictures.size(); i++) {
        if (!WritePng(folder + "/" + ContentFileName("CG", FIRST_PICTURE + static_cast<int>(i)), pictures[i])) {
            return "CG " + std::to_string(FIRST_PICTURE + i) + ": cannot write";
        }
    }
    return "";
}
