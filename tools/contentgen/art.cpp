// The game's pictures: the sprite sheets "PNG" 102-104 and the full-screen pictures "CG" 110-156.
#include "content.h"

static RgbImage MakeFlat(int width, int height, uint8_t r, uint8_t g, uint8_t b)
{
    RgbImage image;
    image.width = width;
    image.height = height;
    image.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = r;
        image.rgb[i + 1] = g;
        image.rgb[i + 2] = b;
    }
    return image;
}

std::string GenerateArt(const std::string &folder)
{
    const struct {
        int id, width, height;
    } sheets[] = {{102, 640, 448}, {103, 640, 288}, {104, 640, 192}};
    for (const auto &sheet : sheets) {
        if (!WritePng(folder + "/" + ContentFileName("PNG", sheet.id), MakeFlat(sheet.width, sheet.height, 0, 0, 0))) {
            return "PNG " + std::to_string(sheet.id) + ": cannot write";
        }
    }
    for (int id = 110; id <= 156; id++) {
        if (!WritePng(folder + "/" + ContentFileName("CG", id), MakeFlat(640, 480, 40, 40, uint8_t(id)))) {
            return "CG " + std::to_string(id) + ": cannot write";
        }
    }
    return "";
}
