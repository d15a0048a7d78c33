// Host benchmark of the software blits and shapes: each case draws one 640x480 frame with our drawer and with a
// reference (memcpy or memset of the same rows, SDL2's surface blits over the very same pixel memory, or another of
// our drawers), rounds of the two interleaved so that a loaded machine slows both alike, best round kept. Prints the
// time per frame of each, or the pixels per second where the two draw different areas, and our speed as a multiple
// of the reference, with the goal beside it; the numbers never fail the program (it exits non-zero only when SDL
// cannot run a blit). Single-threaded.
#include "image/image.h"
#include "softrender/softrender.h"

#include <SDL.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <functional>
#include <vector>

namespace
{

const int FRAME_WIDTH = 640, FRAME_HEIGHT = 480;
const int ROUNDS = 25;          // interleaved rounds per case; the best of each side is kept
const int FRAMES_PER_ROUND = 4; // frames timed together, so one round is well above the clock's grain
const uint32_t UNTOUCHED = 0x00123456u;

double Seconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

// Times every body once per round, in turn, and returns each one's best time per frame.
std::vector<double> TimeInterleaved(const std::vector<std::function<void()>> &bodies)
{
    std::vector<double> best(bodies.size(), 1e30);
    for (int round = 0; round < ROUNDS; round++) {
        for (size_t i = 0; i < bodies.size(); i++) {
            double start = Seconds();
            for (int frame = 0; frame < FRAMES_PER_ROUND; frame++) {
                bodies[i]();
            }
            double perFrame = (Seconds() - start) / FRAMES_PER_ROUND;
            best[i] = perFrame < best[i] ? perFrame : best[i];
        }
    }
    return best;
}

// goal: the least speed ratio wanted (our speed / the reference's), or 0 when the line only informs; drew: whether
// the calls measured changed the destination at all (a refused call would otherwise show an absurd speed).
void PrintVerdict(double speed, double goal, bool drew)
{
    if (!drew) {
        printf("  (drew nothing: a call was refused)");
    } else if (goal > 0) {
        printf("  goal >= %.2fx: %s", goal, speed >= goal ? "met" : "MISSED");
    }
    printf("\n");
    fflush(stdout);
}

// Times per frame.
void Report(const char *name, double ours, const char *referenceName, double reference, double goal, bool drew)
{
    double speed = reference / ours;
    printf("%-44s %9.3f ms / %-30s %9.3f ms = %6.2fx speed", name, ours * 1000.0, referenceName, reference * 1000.0,
           speed);
    PrintVerdict(speed, goal, drew);
}

// Pixels per second: each side's pixel count over its time per frame.
void ReportRate(const char *name, double ours, size_t ourPixels, const char *referenceName, double reference,
                size_t referencePixels, double goal)
{
    double ourRate = ourPixels / ours, referenceRate = referencePixels / reference;
    printf("%-44s %7.1f Mpx/s / %-40s %7.1f Mpx/s = %6.2fx speed", name, ourRate * 1e-6, referenceName,
           referenceRate * 1e-6, ourRate / referenceRate);
    PrintVerdict(ourRate / referenceRate, goal, ourPixels > 0 && referencePixels > 0);
}

struct Image {
    MEMIMG memimg;
    SDL_Surface *surface; // over the same pixels
};

uint32_t Noise(uint32_t *seed)
{
    *seed = *seed * 1103515245u + 12345u;
    return *seed >> 8 ^ *seed << 13;
}

// A 32-bit software image (X8R8G8B8, or B,G,R,A with alpha) and an SDL surface sharing its pixel memory.
Image MakeImage(int width, int height, int alphaFlag)
{
    Image image;
    memset(&image.memimg, 0, sizeof(image.memimg));
    if (CreateMemImg(&image.memimg, width, height, -1, 0, MEMIMG_KIND_RGB32, 0, alphaFlag, 1, NULL) != 0) {
        fprintf(stderr, "blit_bench: cannot create a %dx%d software image\n", width, height);
        exit(1);
    }
    image.surface =
        SDL_CreateRGBSurfaceWithFormatFrom(image.memimg.pixels, width, height, 32, image.memimg.block->pitch,
                                           alphaFlag ? SDL_PIXELFORMAT_ARGB8888 : SDL_PIXELFORMAT_XRGB8888);
    if (image.surface == NULL) {
        fprintf(stderr, "blit_bench: %s\n", SDL_GetError());
        exit(1);
    }
    return image;
}

uint32_t *Row(const Image &image, int y)
{
    return (uint32_t *)(image.memimg.pixels + (size_t)y * image.memimg.block->pitch);
}

void FillNoise(Image &image, uint32_t seed)
{
    for (int y = 0; y < image.memimg.height; y++) {
        for (int x = 0; x < image.memimg.width; x++) {
            Row(image, y)[x] = Noise(&seed) & 0xFFFFFF;
        }
    }
}

// A sprite: transparent surround, opaque elliptic body, a soft edge a tenth of the radius wide. Filled as a
// whole-image write is, so that its run table is current and the draw takes the run path.
void FillSprite(Image &sprite)
{
    uint32_t seed = 7;
    int width = sprite.memimg.width, height = sprite.memimg.height;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            double dx = (x + 0.5) / width * 2 - 1, dy = (y + 0.5) / height * 2 - 1;
            double edge = (1.0 - (dx * dx + dy * dy)) * 10;
            uint32_t alpha = edge <= 0 ? 0 : edge >= 1 ? 255 : (uint32_t)(edge * 255);
            Row(sprite, y)[x] = alpha << 24 | (Noise(&seed) & 0xFFFFFF);
        }
    }
    RebuildMemImgDerivedData(&sprite.memimg, width, height);
    if (!sprite.memimg.block->runTableValid) {
        printf("blit_bench: the sprite's run table is not current; the alpha case takes the regular loops\n");
    }
}

void CheckSdl(int result)
{
    if (result != 0) {
        fprintf(stderr, "blit_bench: SDL blit failed: %s\n", SDL_GetError());
        exit(1);
    }
}

// How many pixels of the frame one call of `draw` changes.
size_t DrawnPixels(Image &destination, const std::function<void()> &draw)
{
    for (int y = 0; y < FRAME_HEIGHT; y++) {
        for (int x = 0; x < FRAME_WIDTH; x++) {
            Row(destination, y)[x] = UNTOUCHED;
        }
    }
    draw();
    size_t count = 0;
    for (int y = 0; y < FRAME_HEIGHT; y++) {
        for (int x = 0; x < FRAME_WIDTH; x++) {
            count += Row(destination, y)[x] != UNTOUCHED;
        }
    }
    return count;
}

// Copies the rows a blit of `source` at (x, y) covers, as a plain copy would.
void CopyRows(Image &destination, const Image &source, int x, int y)
{
    size_t bytes = (size_t)source.memimg.width * 4;
    for (int row = 0; row < source.memimg.height; row++) {
        memcpy(Row(destination, y + row) + x, Row(source, row), bytes);
    }
}

void SetDrawSettings(int mode, int parameter)
{
    g_MemImgDrawSettings.blendMode = mode;
    g_MemImgDrawSettings.blendParameter = parameter;
    g_MemImgDrawSettings.brightness = 0xFFFFFF;
    g_MemImgDrawSettings.drawArea = {0, 0, FRAME_WIDTH, FRAME_HEIGHT};
}

// A whole-frame draw at (0, 0) against memcpy of its rows and against an SDL blit set up by the caller.
void ReportFrameDraw(const char *name, Image &destination, Image &source, SDL_Surface *sdlSource, const char *sdlName,
                     double memcpyGoal, double sdlGoal)
{
    auto ours = [&] { MemImgDrawImage(&destination.memimg, &source.memimg, 0, 0, 0, NULL); };
    auto copy = [&] { CopyRows(destination, source, 0, 0); };
    auto sdl = [&] { CheckSdl(SDL_BlitSurface(sdlSource, NULL, destination.surface, NULL)); };
    bool drew = DrawnPixels(destination, ours) > 0;
    std::vector<double> best = TimeInterleaved({ours, copy, sdl});
    Report(name, best[0], "memcpy of the same rows", best[1], memcpyGoal, drew);
    Report(name, best[0], sdlName, best[2], sdlGoal, drew);
}

// Sixteen 160x120 sprites tiling the frame, drawn through the run path.
void ReportSprites(Image &destination)
{
    Image sprite = MakeImage(FRAME_WIDTH / 4, FRAME_HEIGHT / 4, 1);
    FillSprite(sprite);
    CheckSdl(SDL_SetSurfaceBlendMode(sprite.surface, SDL_BLENDMODE_BLEND));
    auto tiles = [&](const std::function<void(int, int)> &draw) {
        for (int y = 0; y < FRAME_HEIGHT; y += sprite.memimg.height) {
            for (int x = 0; x < FRAME_WIDTH; x += sprite.memimg.width) {
                draw(x, y);
            }
        }
    };
    auto ours = [&] {
        tiles([&](int x, int y) { MemImgDrawImage(&destination.memimg, &sprite.memimg, x, y, 1, NULL); });
    };
    auto copy = [&] { tiles([&](int x, int y) { CopyRows(destination, sprite, x, y); }); };
    auto sdl = [&] {
        tiles([&](int x, int y) {
            SDL_Rect at = {x, y, 0, 0};
            CheckSdl(SDL_BlitSurface(sprite.surface, NULL, destination.surface, &at));
        });
    };
    SetDrawSettings(0, 255);
    bool drew = DrawnPixels(destination, ours) > 0;
    std::vector<double> best = TimeInterleaved({ours, copy, sdl});
    const char *name = "draw 16 alpha sprites 160x120 (run path)";
    Report(name, best[0], "memcpy of the same rows", best[1], 0, drew);
    Report(name, best[0], "SDL_BlitSurface BLEND ARGB", best[2], 1.0, drew);
}

// A nearest-neighbour stretch of the whole source onto the frame's top-left corner.
void ReportStretch(const char *name, Image &destination, Image &source, int width, int height)
{
    RECT rect = {0, 0, width, height};
    SDL_Rect sdlRect = {0, 0, width, height};
    auto ours = [&] { MemImgDrawStretchedImage(&destination.memimg, &source.memimg, &rect, 0, NULL); };
    auto sdl = [&] { CheckSdl(SDL_BlitScaled(source.surface, NULL, destination.surface, &sdlRect)); };
    SetDrawSettings(0, 255);
    bool drew = DrawnPixels(destination, ours) > 0;
    std::vector<double> best = TimeInterleaved({ours, sdl});
    Report(name, best[0], "SDL_BlitScaled nearest", best[1], 1.0, drew);
}

// The mode-0 fill of the whole frame against memset of its rows.
void ReportBoxFill(Image &destination)
{
    const RECT frame = {0, 0, FRAME_WIDTH, FRAME_HEIGHT};
    auto ours = [&] { MemImgFillBox(&destination.memimg, &frame, 0x5A5A5A); };
    auto set = [&] {
        for (int y = 0; y < FRAME_HEIGHT; y++) {
            memset(Row(destination, y), 0x5A, FRAME_WIDTH * 4);
        }
    };
    SetDrawSettings(0, 255);
    bool drew = DrawnPixels(destination, ours) > 0;
    std::vector<double> best = TimeInterleaved({ours, set});
    Report("fill box 640x480 (mode 0)", best[0], "memset of the same rows", best[1], 0.70, drew);
}

// A 256x192 picture scaled 1.5 and turned 30 degrees about the frame's centre, drawn as a textured quad (its
// corners truncated toward zero, as the rotated draw truncates its own) against the mode-1 fill of the whole frame
// and against the rotated draw of the same picture. Each side's pixels are those its one call changes.
void ReportTurnedQuad(Image &destination)
{
    Image picture = MakeImage(256, 192, 0);
    FillNoise(picture, 5);
    const float scale = 1.5f, angle = (float)(M_PI / 6), sine = sinf(angle), cosine = cosf(angle);
    const float halfWidth = 128 * scale, halfHeight = 96 * scale;
    const int centerX = FRAME_WIDTH / 2, centerY = FRAME_HEIGHT / 2;
    const int signs[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}}; // top-left, top-right, bottom-left, bottom-right
    int corners[4][2];
    for (int k = 0; k < 4; k++) {
        float dx = signs[k][0] * halfWidth, dy = signs[k][1] * halfHeight;
        corners[k][0] = centerX + (int)(dx * cosine - dy * sine);
        corners[k][1] = centerY + (int)(dx * sine + dy * cosine);
    }
    const RECT frame = {0, 0, FRAME_WIDTH, FRAME_HEIGHT};
    auto quad = [&] { MemImgDrawQuadImage(&destination.memimg, &picture.memimg, corners, 0, NULL); };
    auto fill = [&] { MemImgFillBox(&destination.memimg, &frame, 0x5A5A5A); };
    auto rotated = [&] {
        MemImgDrawRotatedImage(&destination.memimg, &picture.memimg, centerX, centerY, scale, angle, 0, 0, NULL);
    };
    SetDrawSettings(1, 100);
    size_t quadPixels = DrawnPixels(destination, quad), fillPixels = DrawnPixels(destination, fill);
    size_t rotatedPixels = DrawnPixels(destination, rotated);
    std::vector<double> best = TimeInterleaved({quad, fill, rotated});
    const char *name = "quad 256x192 x1.5 at 30 deg (mode 1, p 100)";
    ReportRate(name, best[0], quadPixels, "fill box 640x480 (mode 1, p 100)", best[1], fillPixels, 0.5);
    ReportRate(name, best[0], quadPixels, "rotated draw, same picture (pixels drawn)", best[2], rotatedPixels, 1.0);
}

} // namespace

int main()
{
    if (SDL_Init(0) != 0 || InitMemImgTables() != 0) {
        fprintf(stderr, "blit_bench: cannot start: %s\n", SDL_GetError());
        return 1;
    }
    Image destination = MakeImage(FRAME_WIDTH, FRAME_HEIGHT, 0);
    Image opaque = MakeImage(FRAME_WIDTH, FRAME_HEIGHT, 0);
    FillNoise(opaque, 1);

    // The same pixels seen by SDL once more, with a constant alpha.
    SDL_Surface *faded = SDL_CreateRGBSurfaceWithFormatFrom(opaque.memimg.pixels, FRAME_WIDTH, FRAME_HEIGHT, 32,
                                                            opaque.memimg.block->pitch, SDL_PIXELFORMAT_XRGB8888);
    if (faded == NULL) {
        fprintf(stderr, "blit_bench: %s\n", SDL_GetError());
        return 1;
    }
    CheckSdl(SDL_SetSurfaceBlendMode(opaque.surface, SDL_BLENDMODE_NONE));
    CheckSdl(SDL_SetSurfaceBlendMode(faded, SDL_BLENDMODE_BLEND));
    CheckSdl(SDL_SetSurfaceAlphaMod(faded, 100));

    SetDrawSettings(0, 255);
    ReportFrameDraw("draw 640x480 opaque (mode 0)", destination, opaque, opaque.surface, "SDL_BlitSurface NONE", 0.70,
                    0);
    ReportSprites(destination);
    SetDrawSettings(1, 100);
    ReportFrameDraw("draw 640x480 constant alpha (mode 1, p 100)", destination, opaque, faded,
                    "SDL_BlitSurface alpha mod 100", 0, 1.0);

    Image small = MakeImage(400, 300, 0);
    FillNoise(small, 3);
    ReportStretch("stretch 400x300 to 600x450 (1.5x)", destination, small, 600, 450);
    ReportStretch("stretch 640x480 to 480x360 (0.75x)", destination, opaque, 480, 360);
    ReportBoxFill(destination);
    ReportTurnedQuad(destination);
    SDL_Quit();
    return 0;
}
