// The recording stand-in of the engine calls the game makes (see engine_stand_in.h).
#include "engine_stand_in.h"

#include "font/font.h"
#include "graphics/graphics.h"
#include "graphics/graphics_test_hooks.h"
#include "input/input.h"
#include "sound/sound.h"

#include <ostream>

StandInEngine g_StandIn;

void ResetGameAndEngine(void)
{
    g_StandIn = StandInEngine();
    g_Game = GameGlobals();
    g_Handles = GameHandles();
}

std::vector<EngineCall> CallsNamed(const char *name)
{
    std::vector<EngineCall> found;
    for (const EngineCall &call : g_StandIn.calls) {
        if (call.name == name) {
            found.push_back(call);
        }
    }
    return found;
}

void PrintTo(const EngineCall &call, std::ostream *out)
{
    *out << call.name << "(";
    for (long long arg : call.args) {
        *out << arg << ",";
    }
    *out << call.text << ")";
}

static int Note(const char *name, std::vector<long long> args, const char *text = "")
{
    g_StandIn.calls.push_back({name, args, text});
    return 0;
}

// A resource given by number is noted as that number; one given by name as its text.
static long long ResourceId(const char *name)
{
    return IS_INTRESOURCE(name) ? (long long)(uintptr_t)name : -1;
}

int SetMainWindowTitle(const char *text)
{
    return Note("SetMainWindowTitle", {}, text);
}
int ChangeWindowMode(int windowed)
{
    return Note("ChangeWindowMode", {windowed});
}
int InitEngine(void)
{
    Note("InitEngine", {});
    return g_StandIn.initResult;
}
int SetWindowResizable(int resizable, int keepSize)
{
    return Note("SetWindowResizable", {resizable, keepSize});
}
int SetAllowMultipleInstances(int flag)
{
    return Note("SetAllowMultipleInstances", {flag});
}
unsigned int MakeScreenColor(int red, int green, int blue)
{
    Note("MakeScreenColor", {red, green, blue});
    return 0xFF000000u | red << 16 | green << 8 | blue;
}
int SetDefaultFontType(int typeFlags)
{
    return Note("SetDefaultFontType", {typeFlags});
}
int SetDefaultFontSize(int size)
{
    return Note("SetDefaultFontSize", {size});
}
int DrawStringDefault(int x, int y, const char *text, unsigned int color, unsigned int edgeColor)
{
    return Note("DrawStringDefault", {x, y, color, edgeColor}, text);
}
int LoadDivGraphFromResource(const char *name, const char *type, int allNum, int xNum, int yNum, int xSize, int ySize,
                             EngineHandle *handles)
{
    for (int i = 0; i < allNum; i++) {
        handles[i] = ++g_StandIn.nextGraph;
    }
    g_StandIn.liveGraphs += allNum;
    return Note("LoadDivGraphFromResource", {ResourceId(name), allNum, xNum, yNum, xSize, ySize}, type);
}
EngineHandle LoadGraphFromResource(const char *name, const char *type)
{
    Note("LoadGraphFromResource", {ResourceId(name)}, type);
    g_StandIn.liveGraphs++;
    return ++g_StandIn.nextGraph;
}
int ReleaseGraphHandle(EngineHandle graph, int flag)
{
    g_StandIn.liveGraphs--;
    return Note("ReleaseGraphHandle", {graph, flag});
}
int LoadSoundFromResource(const char *name, const char *type, int bufferCount)
{
    Note("LoadSoundFromResource", {ResourceId(name), bufferCount}, type);
    return 0x10000000 + (int)ResourceId(name);
}
int SetSoundVolume255(int volume, EngineHandle handle)
{
    return Note("SetSoundVolume255", {volume, handle});
}
int PlaySoundHandle(EngineHandle handle, int playType, int top)
{
    return Note("PlaySoundHandle", {handle, playType, top});
}
int DeleteSoundHandle(EngineHandle handle, int flag)
{
    return Note("DeleteSoundHandle", {handle, flag});
}
int SetDrawTarget(int target)
{
    return Note("SetDrawTarget", {target});
}
int ProcessWindowMessages(void)
{
    Note("ProcessWindowMessages", {});
    return g_StandIn.pumpPasses-- > 0 ? 0 : -1;
}
int IsKeyDown(int keyCode)
{
    return Note("IsKeyDown", {keyCode});
}
int GetNowMilliCount(void)
{
    static int clock;
    return clock += 1000; // every frame overruns its target: no pacing sleep in these tests
}
unsigned int GetPadInput(int padNumber)
{
    Note("GetPadInput", {padNumber});
    unsigned int bits = g_StandIn.pads.empty() ? 0 : g_StandIn.pads.front();
    if (!g_StandIn.pads.empty()) {
        g_StandIn.pads.pop_front();
    }
    return bits;
}
int FlipScreen(void)
{
    return Note("FlipScreen", {});
}
int ReleaseAllGraphHandles(int flag)
{
    return Note("ReleaseAllGraphHandles", {flag});
}
int DeleteAllSoundHandles(int flag)
{
    return Note("DeleteAllSoundHandles", {flag});
}
int EndEngine(void)
{
    return Note("EndEngine", {});
}
int DrawGraphAt(int x, int y, EngineHandle graph, int transparent)
{
    return Note("DrawGraphAt", {x, y, graph, transparent});
}
int DrawBoxShape(int x1, int y1, int x2, int y2, unsigned int color, int fill)
{
    return Note("DrawBoxShape", {x1, y1, x2, y2, color, fill});
}
int DrawTriangleShape(int x1, int y1, int x2, int y2, int x3, int y3, unsigned int color, int fill)
{
    return Note("DrawTriangleShape", {x1, y1, x2, y2, x3, y3, color, fill});
}
int DrawPoint(int x, int y, unsigned int color)
{
    return Note("DrawPoint", {x, y, color});
}
int SetDrawBlend(int mode, int parameter)
{
    return Note("SetDrawBlend", {mode, parameter});
}
int SetUseDirect3D(int flag)
{
    return Note("SetUseDirect3D", {flag});
}
int GetGraphTableCount(void)
{
    return g_StandIn.liveGraphs;
}
