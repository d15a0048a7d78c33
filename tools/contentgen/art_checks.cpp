// The art's own checks, run on the finished sheets and pictures before anything is written; any failure fails the
// build with a line naming the resource, the cell and the check. Build machine, single-threaded.
#include "art.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace
{

std::string CellName(int sheet, int cell)
{
    return "PNG " + std::to_string(sheet) + " cell " + std::to_string(cell);
}

struct CellView {
    const RgbImage *image;
    int x0, y0, width, height;
    const uint8_t *At(int x, int y) const
    {
        return image->rgb.data() + (static_cast<size_t>(y0 + y) * image->width + x0 + x) * 3;
    }
    bool Visible(int x, int y) const
    {
        const uint8_t *p = At(x, y);
        return p[0] || p[1] || p[2];
    }
};

int Colours565(const CellView &cell, bool visibleOnly)
{
    std::set<uint16_t> colours;
    for (int y = 0; y < cell.height; y++) {
        for (int x = 0; x < cell.width; x++) {
            const uint8_t *p = cell.At(x, y);
            if (!visibleOnly || cell.Visible(x, y)) {
                colours.insert(To565(p[0], p[1], p[2]));
            }
        }
    }
    return static_cast<int>(colours.size());
}

bool ParseBox(const CellRole &role, int &width, int &height)
{
    const auto box = role.attributes.find("box");
    return box != role.attributes.end() && std::sscanf(box->second.c_str(), "%dx%d", &width, &height) == 2;
}

// The checks of one cell of a block at block column `column`, row `row`.
std::string CheckCell(const CellRole &role, const CellView &cell, int column, int row)
{
    const std::string name = CellName(role.sheet, role.first + row * SheetOf(role.sheet).perRow + column);
    int visible = 0;
    for (int y = 0; y < cell.height; y++) {
        for (int x = 0; x < cell.width; x++) {
            const uint8_t *p = cell.At(x, y);
            if (!cell.Visible(x, y)) {
                continue;
            }
            visible++;
            if (role.sheet != 104 && TurnsBlack565(p[0], p[1], p[2])) {
                return name + ": pixel (" + std::to_string(x) + "," + std::to_string(y) +
                       ") turns black, so transparent, at 16 bits";
            }
        }
    }
    if (role.role == "unused") {
        return visible ? name + ": the game never shows it, but it is not empty" : "";
    }
    if (!role.keyed) {
        if (visible != cell.width * cell.height) {
            return name + ": drawn opaque, but has black (empty) pixels";
        }
    } else {
        // Coverage is measured over the part of the cell inside the block's box: the rest stays empty.
        int boxWidth = cell.width * role.columns, boxHeight = cell.height * role.rows;
        ParseBox(role, boxWidth, boxHeight);
        const int x0 = column * cell.width, y0 = row * cell.height;
        const int areaWidth = std::clamp(boxWidth - x0, 0, cell.width),
                  areaHeight = std::clamp(boxHeight - y0, 0, cell.height);
        int inside = 0;
        for (int y = 0; y < cell.height; y++) {
            for (int x = 0; x < cell.width; x++) {
                const bool inBox = x < areaWidth && y < areaHeight;
                if (cell.Visible(x, y) && !inBox) {
                    return name + ": picture outside its " + std::to_string(boxWidth) + "x" +
                           std::to_string(boxHeight) + " box at (" + std::to_string(x) + "," + std::to_string(y) + ")";
                }
                inside += cell.Visible(x, y);
            }
        }
        const int area = areaWidth * areaHeight;
        if (area > 0 && (inside * 100 < area * 15 || inside * 100 > area * 95)) {
            return name + ": " + std::to_string(inside * 100 / area) + "% of its " + std::to_string(area) +
                   " pixels visible, a keyed cell needs 15-95%";
        }
        const auto period = role.attributes.find("period");
        if (period != role.attributes.end()) {
            const int step = std::stoi(period->second);
            for (int y = 0; y < cell.height; y++) {
                for (int x = 0; x + step < cell.width; x++) {
                    if (std::memcmp(cell.At(x, y), cell.At(x + step, y), 3) != 0) {
                        return name + ": does not repeat every " + period->second + " pixels at (" + std::to_string(x) +
                               "," + std::to_string(y) + ")";
                    }
                }
            }
        }
    }
    const int colours = Colours565(cell, role.keyed);
    if (colours < 4) {
        return name + ": " + std::to_string(colours) + " colours at 16 bits, a shown cell needs at least 4";
    }
    return "";
}

// Local contrast: mean absolute luma step between neighbours, inside or outside a rectangle.
void Contrast(const RgbImage &image, int x0, int y0, int x1, int y1, double &inside, double &outside)
{
    auto luma = [&](int x, int y) {
        const uint8_t *p = image.rgb.data() + (static_cast<size_t>(y) * image.width + x) * 3;
        return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
    };
    double sums[2] = {0, 0};
    long counts[2] = {0, 0};
    for (int y = 0; y + 1 < image.height; y++) {
        for (int x = 0; x + 1 < image.width; x++) {
            const bool in = x >= x0 && x + 1 < x1 && y >= y0 && y + 1 < y1;
            const double step = std::fabs(luma(x, y) - luma(x + 1, y)) + std::fabs(luma(x, y) - luma(x, y + 1));
            sums[in] += step;
            counts[in]++;
        }
    }
    inside = sums[1] / std::max(1L, counts[1]);
    outside = sums[0] / std::max(1L, counts[0]);
}

// Mean absolute difference per byte of two pictures.
double MeanDifference(const RgbImage &a, const RgbImage &b)
{
    double total = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) {
        total += std::abs(a.rgb[i] - b.rgb[i]);
    }
    return total / static_cast<double>(a.rgb.size());
}

// The picture's 8x8 block averages: two pictures differ at least as much as their block averages do.
RgbImage BlockAverages(const RgbImage &image)
{
    constexpr int block = 8;
    RgbImage small;
    small.width = image.width / block;
    small.height = image.height / block;
    small.rgb.resize(static_cast<size_t>(small.width) * small.height * 3);
    for (int y = 0; y < small.height; y++) {
        for (int x = 0; x < small.width; x++) {
            for (int k = 0; k < 3; k++) {
                int sum = 0;
                for (int dy = 0; dy < block; dy++) {
                    for (int dx = 0; dx < block; dx++) {
                        sum += image.rgb[(static_cast<size_t>(y * block + dy) * image.width + x * block + dx) * 3 + k];
                    }
                }
                small.rgb[(static_cast<size_t>(y) * small.width + x) * 3 + k] = static_cast<uint8_t>(sum / 64);
            }
        }
    }
    return small;
}

} // namespace

std::vector<std::string> CheckSheets(const std::vector<SheetImage> &sheets, const std::vector<CellRole> &roles)
{
    std::vector<std::string> failures;
    std::map<std::string, std::pair<std::string, std::string>> seen; // pixels -> cell name, role
    for (const CellRole &role : roles) {
        const SheetLayout &layout = SheetOf(role.sheet);
        const RgbImage *image = nullptr;
        for (const SheetImage &sheet : sheets) {
            image = sheet.id == role.sheet ? &sheet.image : image;
        }
        if (!image) {
            failures.push_back(CellName(role.sheet, role.first) + ": sheet missing");
            continue;
        }
        for (int r = 0; r < role.rows; r++) {
            for (int c = 0; c < role.columns; c++) {
                const int cell = role.first + r * layout.perRow + c;
                const CellView view{image, (cell % layout.perRow) * layout.cellWidth,
                                    (cell / layout.perRow) * layout.cellHeight, layout.cellWidth, layout.cellHeight};
                const std::string failure = CheckCell(role, view, c, r);
                if (!failure.empty()) {
                    failures.push_back(failure);
                }
                if (role.role == "unused") {
                    continue;
                }
                std::string pixels;
                for (int y = 0; y < view.height; y++) {
                    pixels.append(reinterpret_cast<const char *>(view.At(0, y)), view.width * 3);
                }
                // A role is what the cell is for: for an object, its kinds and animation rows.
                const auto type = role.attributes.find("type"), rows = role.attributes.find("rows");
                const std::string key =
                    role.role + " " +
                    (type != role.attributes.end()
                         ? "type=" + type->second + " rows=" + (rows != role.attributes.end() ? rows->second : "")
                         : role.subject);
                const auto [it, fresh] = seen.try_emplace(pixels, CellName(role.sheet, cell), key);
                if (!fresh && it->second.second != key) {
                    failures.push_back(CellName(role.sheet, cell) + ": identical to " + it->second.first +
                                       ", which has another role (" + it->second.second + ")");
                }
            }
        }
    }
    return failures;
}

std::vector<std::string> CheckPictures(const std::vector<RgbImage> &pictures, int firstId, int firstEventId)
{
    std::vector<std::string> failures;
    std::vector<RgbImage> averages;
    for (const RgbImage &picture : pictures) {
        averages.push_back(BlockAverages(picture));
    }
    for (size_t i = 0; i < pictures.size(); i++) {
        const std::string name = "CG " + std::to_string(firstId + i);
        const CellView whole{&pictures[i], 0, 0, pictures[i].width, pictures[i].height};
        const int colours = Colours565(whole, false);
        if (colours < 32) {
            failures.push_back(name + ": " + std::to_string(colours) +
                               " colours at 16 bits, a picture needs at least 32");
        }
        if (static_cast<int>(firstId + i) >= firstEventId) {
            double inside = 0, outside = 0;
            Contrast(pictures[i], 80, 352, 560, 468, inside, outside);
            if (inside >= outside) {
                char line[160];
                std::snprintf(line, sizeof line,
                              ": text window area's local contrast %.2f is not below the rest's %.2f", inside, outside);
                failures.push_back(name + line);
            }
        }
        for (size_t j = 0; j < i; j++) {
            // Block averages first (rounded down, so allow one step): when they differ enough, the pixels do too.
            if (MeanDifference(averages[i], averages[j]) >= 11) {
                continue;
            }
            const double difference = MeanDifference(pictures[i], pictures[j]);
            if (difference < 10) {
                char line[160];
                std::snprintf(line, sizeof line, " and CG %d: mean difference %.1f of 255, pictures need 10",
                              static_cast<int>(firstId + j), difference);
                failures.push_back(name + line);
            }
        }
    }
    return failures;
}
