// The recording stand-in of the engine calls the game makes (see engine_stand_in.h): one line per call.
#include "engine_stand_in.h"

#include <fstream>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "font/font.h"
#include "graphics/graphics.h"
#include "graphics/graphics_test_hooks.h"
#include "image/image.h"
#include "input/input.h"
#include "sound/sound.h"

StandInEngine g_StandIn;

void ResetGameAndEngine(void)
{
    g_StandIn = StandInEngine();
    g_Game = GameGlobals();
    g_Handles = GameHandles();
}

std::string CallLine(const char *name, std::vector<long long> args, const char *text)
{
    std::string line = std::string(name) + "(";
    char number[24];
    for (long long arg : args) {
        snprintf(number, sizeof(number), arg >= 0x10000 ? "%#llx," : "%lld,", arg);
        line += number;
    }
    line += text;
    if (line.back() == ',') {
        line.pop_back();
    }
    return line + ")";
}

std::vector<std::string> CallsNamed(const char *name)
{
    std::vector<std::string> found;
    for (const std::string &call : g_StandIn.calls) {
        if (call.compare(0, strlen(name) + 1, std::string(name) + "(") == 0) {
            found.push_back(call);
        }
    }
    return found;
}

std::vector<uint8_t> ReadBytes(const char *name)
{
    std::ifstream file(name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

std::vector<uint8_t> WriteRecord(const char *name, std::vector<int64_t> values, int size)
{
    std::vector<uint8_t> bytes;
    for (int64_t value : values) {
        for (int i = 0; i < 4; i++) {
            bytes.push_back((uint8_t)(value >> (8 * i)));
        }
    }
    bytes.resize(size < 0 ? bytes.size() : (size_t)size);
    std::ofstream(name, std::ios::binary).write((const char *)bytes.data(), (std::streamsize)bytes.size());
    return bytes;
}

// The arguments as a list, so that a call made while recording is off costs no allocation.
static int Note(const char *name, std::initializer_list<long long> args, const char *text = "")
{
    if (g_StandIn.recording) {
        g_StandIn.calls.push_back(CallLine(name, args, text));
    }
    return 0;
}

// A resource given by number is noted as that number.
static long long Id(const char *name)
{
    return IS_INTRESOURCE(name) ? (long long)(uintptr_t)name : -1;
}

// clang-format off
int SetMainWindowTitle(const char *text) { return Note("SetMainWindowTitle", {}, text); }
int ChangeWindowMode(int windowed) { return Note("ChangeWindowMode", {windowed}); }
int InitEngine(void) { return Note("InitEngine", {}) + g_StandIn.initResult; }
int SetWindowResizable(int resizable, int keepSize) { return Note("SetWindowResizable", {resizable, keepSize}); }
int SetAllowMultipleInstances(int flag) { return Note("SetAllowMultipleInstances", {flag}); }
unsigned int MakeScreenColor(int r, int g, int b) { return Note("MakeScreenColor", {r, g, b}) + (0xFF000000u | r << 16 | g << 8 | b); }
int SetDefaultFontType(int typeFlags) { return Note("SetDefaultFontType", {typeFlags}); }
int SetDefaultFontSize(int size) { return Note("SetDefaultFontSize", {size}); }
int DrawStringDefault(int x, int y, const char *text, unsigned int color, unsigned int edge) { return Note("DrawStringDefault", {x, y, color, edge}, text); }
int LoadSoundFromResource(const char *name, const char *type, int buffers) { return Note("LoadSoundFromResource", {Id(name), buffers}, type) + 0x10000000 + (int)Id(name); }
int SetSoundVolume255(int volume, EngineHandle sound) { return Note("SetSoundVolume255", {volume, sound}); }
int PlaySoundHandle(EngineHandle sound, int playType, int top) { return Note("PlaySoundHandle", {sound, playType, top}); }
int DeleteSoundHandle(EngineHandle sound, int flag) { return Note("DeleteSoundHandle", {sound, flag}); }
int SetDrawTarget(int target) { return Note("SetDrawTarget", {target}); }
int ProcessWindowMessages(void) { return Note("ProcessWindowMessages", {}) - 1; }
int IsKeyDown(int keyCode) { return Note("IsKeyDown", {keyCode}); }
int GetNowMilliCount(void) { return 0; }
unsigned int GetPadInput(int pad) { return Note("GetPadInput", {pad}); }
int FlipScreen(void) { return Note("FlipScreen", {}); }
int ClearDrawScreen(int target, const RECT *rect) { return Note("ClearDrawScreen", {target, rect != nullptr}); }
int ReleaseAllGraphHandles(int flag) { return Note("ReleaseAllGraphHandles", {flag}); }
int DeleteAllSoundHandles(int flag) { return Note("DeleteAllSoundHandles", {flag}); }
int EndEngine(void) { return Note("EndEngine", {}); }
int DrawGraphAt(int x, int y, EngineHandle graph, int trans) { return Note("DrawGraphAt", {x, y, graph, trans}); }
int DrawGraphMirrored(int x, int y, EngineHandle graph, int trans) { return Note("DrawGraphMirrored", {x, y, graph, trans}); }
int DrawBoxShape(int x1, int y1, int x2, int y2, unsigned int color, int fill) { return Note("DrawBoxShape", {x1, y1, x2, y2, color, fill}); }
int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill) { return Note("DrawTriangleShape", {x1, y1, x2, y2, x3, y3, color, fill}); }
int DrawCircleShape(int x, int y, int radius, unsigned int color, int fill) { return Note("DrawCircleShape", {x, y, radius, color, fill}); }
int DrawPoint(int x, int y, unsigned int color) { return Note("DrawPoint", {x, y, color}); }
int SetDrawBlend(int mode, int parameter) { return Note("SetDrawBlend", {mode, parameter}); }
int SetTextureNeverSplit(int flag) { return Note("SetTextureNeverSplit", {flag}); }
int SetUseDirect3D(int flag) { return Note("SetUseDirect3D", {flag}); }
int SetRunInBackground(int flag) { return Note("SetRunInBackground", {flag}); }
int LockDrawScreen(int x1, int y1, int x2, int y2, BaseImage *, int target, int) { return Note("LockDrawScreen", {x1, y1, x2, y2, target}) - 1; }
int UnlockDrawScreen(void) { return Note("UnlockDrawScreen", {}); }
int GetBaseImagePixelComponents(BaseImage *, int, int, int *, int *, int *, int *) { return -1; }
int GetGraphTableCount(void) { return g_StandIn.liveGraphs; }
int GetAllocationCount(void) { return 0; }
int ReinitGraphicsKeepMode(void) { return Note("ReinitGraphicsKeepMode", {}); }
EngineHandle LoadGraphFromResource(const char *name, const char *type) { g_StandIn.liveGraphs++; return Note("LoadGraphFromResource", {Id(name)}, type) + ++g_StandIn.nextGraph; }
int ReleaseGraphHandle(EngineHandle graph, int flag) { g_StandIn.liveGraphs--; return Note("ReleaseGraphHandle", {graph, flag}); }
// clang-format on

// The angle is noted in millionths of a radian.
int DrawGraphRotated(int x, int y, double scale, double angle, EngineHandle graph, int trans, int turn)
{
    return Note("DrawGraphRotated", {x, y, llround(scale * 1000), llround(angle * 1000000), graph, trans, turn});
}

int DrawFormatStringDefault(int x, int y, unsigned int color, const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return Note("DrawFormatStringDefault", {x, y, color}, text);
}

int LoadDivGraphFromResource(const char *name, const char *type, int count, int xNum, int yNum, int xSize, int ySize,
                             EngineHandle *handles)
{
    for (int i = 0; i < count; i++) {
        handles[i] = ++g_StandIn.nextGraph;
    }
    return Note("LoadDivGraphFromResource", {Id(name), count, xNum, yNum, xSize, ySize}, type);
}
