// On-screen log: a table of 80 lines that the screen copy draws over the frame while the draw flag is set, with an
// edged 16-pixel font of its own. Nothing in the program adds lines or sets the flag: start-up prepares the table
// and makes the font, the end deletes it. The font's lost flag says when a font-system restart took it, so that the
// next draw makes it again. Window thread only.
#include "core/core.h"
#include "font/font.h"
#include "graphics/graphics.h"

#define SCREEN_LOG_LINES 80
#define SCREEN_LOG_LINE_BYTES 255
#define SCREEN_LOG_LINE_HEIGHT 16
#define SCREEN_LOG_FONT_THICKNESS 4

struct ScreenLog {
    int prepared;
    int lineHeight;
    EngineHandle font; // -1 when none
    int fontLost;
    int drawFlag;
    int lineCount, nextLine;
    char lines[SCREEN_LOG_LINES][SCREEN_LOG_LINE_BYTES];
};

static ScreenLog s_ScreenLog = {0, SCREEN_LOG_LINE_HEIGHT, -1, 1, 0, 0, 0, {}};

int InitScreenLog(void)
{
    if (s_ScreenLog.prepared) {
        return 0;
    }
    if (GetAppWindowHandle() == NULL || !IsGraphicsInitialised()) {
        return -1;
    }
    MemFill(&s_ScreenLog, 0, sizeof(s_ScreenLog));
    s_ScreenLog.lineHeight = SCREEN_LOG_LINE_HEIGHT;
    s_ScreenLog.font = -1;
    s_ScreenLog.fontLost = 1;
    s_ScreenLog.prepared = 1;
    return CreateScreenLogFont();
}

int CreateScreenLogFont(void)
{
    if (s_ScreenLog.font != -1 && !s_ScreenLog.fontLost) {
        return 0;
    }
    s_ScreenLog.font =
        CreateFontToHandle(NULL, s_ScreenLog.lineHeight, SCREEN_LOG_FONT_THICKNESS, 1, -1, -1, -1, -1, -1);
    if (s_ScreenLog.font != -1) {
        SetFontLostFlagPointer(s_ScreenLog.font, &s_ScreenLog.fontLost);
    }
    return 0;
}

int DrawScreenLog(void)
{
    if (InitScreenLog() != 0) {
        return 0;
    }
    CreateScreenLogFont();
    int height;
    GetScreenSize(NULL, &height);
    int lines = height / s_ScreenLog.lineHeight;
    lines = lines < SCREEN_LOG_LINES ? lines : SCREEN_LOG_LINES;
    const unsigned int white = MakeScreenColor(255, 255, 255), black = MakeScreenColor(0, 0, 0);
    for (int i = 0; i < lines; i++) {
        DrawStringToFontHandle(0, i * s_ScreenLog.lineHeight, s_ScreenLog.lines[i], white, s_ScreenLog.font, black, 0);
    }
    return 0;
}

int GetScreenLogDrawFlag(void)
{
    return s_ScreenLog.drawFlag;
}

int TerminateScreenLog(void)
{
    if (!s_ScreenLog.prepared) {
        return 0;
    }
    if (!s_ScreenLog.fontLost) {
        DeleteFontHandle(s_ScreenLog.font);
    }
    s_ScreenLog.fontLost = 1;
    s_ScreenLog.font = -1;
    s_ScreenLog.prepared = 0;
    return 0;
}
