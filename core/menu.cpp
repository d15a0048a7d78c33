// Menus, toolbar, cursor and mouse: the menu-item table and the chosen-command list, the toolbar queries, whether
// the engine shows the mouse cursor, the mouse position in screen pixels, the log of mouse presses and the names of
// dropped files. A menu given before start-up is walked into the item table at window creation and owned by the
// engine until the end; no call of this engine makes a toolbar, so the toolbar queries answer as absent. Window
// thread only.
#include "core/window_state.h"

#include "core/core_test_hooks.h"

#include <shellapi.h>

#include "graphics/graphics.h"

#define MENU_ITEM_LIMIT 128
#define MENU_NAME_SIZE 128
#define CHOSEN_ID_LIMIT 64
#define MOUSE_LOG_LIMIT 32
#define DROPPED_FILE_LIMIT 1000

struct MenuItemRecord {
    HMENU menu;
    unsigned short position;
    unsigned short id;
    char name[MENU_NAME_SIZE];
};

struct MousePress {
    int button, x, y;
};

static HMENU s_Menu;
static int s_MenuHidden, s_MenuForcedVisible, s_MenuAutoShown, s_MenuShownApplied;
static MenuItemRecord s_MenuItems[MENU_ITEM_LIMIT];
static int s_MenuItemCount;
static int s_ChosenIds[CHOSEN_ID_LIMIT];
static int s_ChosenIdCount;
static MenuCommandCallback s_MenuCommandCallback;
static MenuItemNameCallback s_MenuItemNameCallback;

static int s_CursorWanted = 1;
static int s_CursorApplied = 1;

static MousePress s_MouseLog[MOUSE_LOG_LIMIT];
static int s_MouseLogCount;

static char *s_DroppedFiles[DROPPED_FILE_LIMIT];
static int s_DroppedFileCount;

// ---------------------------------------------------------------------------------------------------------------
// Menu.

int IsMenuInUse(void)
{
    return s_Menu != NULL;
}

int SetWindowMenu(HMENU menu, MenuCommandCallback commandCallback, MenuItemNameCallback nameCallback)
{
    s_Menu = menu;
    s_MenuCommandCallback = commandCallback;
    s_MenuItemNameCallback = nameCallback;
    s_MenuItemCount = 0;
    s_ChosenIdCount = 0;
    return 0;
}

HMENU GetWindowMenuHandle(void)
{
    return s_Menu;
}

void NoteMenuAttached(int attached)
{
    s_MenuShownApplied = attached;
}

void ReleaseWindowMenu(void)
{
    if (s_Menu == NULL) {
        return;
    }
    // The end takes the menu off the window; that is not the caller's wish to hide it, which a later start keeps.
    int hiddenByCaller = s_MenuHidden;
    SetMenuVisible(0);
    s_MenuHidden = hiddenByCaller;
    DestroyMenu(s_Menu);
    s_Menu = NULL;
    s_MenuShownApplied = 0;
    s_MenuItemCount = 0;
}

int TakeChosenMenuId(void)
{
    if (s_ChosenIdCount == 0) {
        return -1;
    }
    int id = s_ChosenIds[0];
    MemMove(&s_ChosenIds[0], &s_ChosenIds[1], sizeof(int) * (size_t)(s_ChosenIdCount - 1));
    s_ChosenIdCount--;
    return id;
}

int IsMenuShown(void)
{
    if (g_Window.mainWindow == NULL || s_Menu == NULL) {
        return 0;
    }
    return !s_MenuHidden && (s_MenuForcedVisible || g_WindowSettings.windowed || s_MenuAutoShown);
}

int SetMenuVisible(int visible)
{
    if (s_Menu == NULL) {
        return 0;
    }
    s_MenuHidden = !visible;
    if (g_Window.mainWindow == NULL) {
        return 0;
    }
    int shown = IsMenuShown();
    if (shown != s_MenuShownApplied) {
        SetMenu(g_Window.mainWindow, shown ? s_Menu : NULL);
        if (g_WindowSettings.windowed) {
            ApplyWindowStyle();
        }
        UpdateWindow(g_Window.mainWindow);
        s_MenuShownApplied = shown;
    }
    return 0;
}

int UpdateMenuAutoShow(void)
{
    if (g_WindowSettings.windowed || s_Menu == NULL) {
        return 0;
    }
    POINT point;
    GetCursorPos(&point);
    if (IsDeviceMode()) {
        if (GetMenu(g_Window.mainWindow) == NULL) {
            SetMenu(g_Window.mainWindow, s_Menu);
        }
        if (point.y > 60) {
            SetCursorVisible(-1);
        }
        return 0;
    }
    s_MenuAutoShown = point.y < 60;
    ApplyDialogBoxMode(s_MenuAutoShown);
    SetCursorVisible(-1);
    SetMenuVisible(!s_MenuHidden);
    return 0;
}

int GetMenuItemRecord(HMENU menu, int position, MENUITEMINFOA *info, char *name)
{
    MemFill(info, 0, sizeof(*info));
    info->cbSize = sizeof(*info);
    info->fMask = MIIM_TYPE;
    if (!GetMenuItemInfoA(menu, (UINT)position, TRUE, info)) {
        return -1;
    }
    if (info->fType & MFT_SEPARATOR) {
        return 1;
    }
    MemFill(info, 0, sizeof(*info));
    info->cbSize = sizeof(*info);
    info->fMask = MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_TYPE;
    info->dwTypeData = name;
    info->cch = MENU_NAME_SIZE - 1;
    if (!GetMenuItemInfoA(menu, (UINT)position, TRUE, info)) {
        return -1;
    }
    name[MENU_NAME_SIZE - 1] = '\0';
    return 0;
}

// Depth first into sub-menus. The table holds 128 records: the walk stops when it is full.
static int WalkMenuItems(HMENU menu)
{
    int count = GetMenuItemCount(menu);
    if (count < 0) {
        return -1;
    }
    for (int position = 0; position < count && s_MenuItemCount < MENU_ITEM_LIMIT; position++) {
        MENUITEMINFOA info;
        char name[MENU_NAME_SIZE];
        int result = GetMenuItemRecord(menu, position, &info, name);
        if (result < 0) {
            return -1;
        }
        if (result == 1) {
            continue;
        }
        MenuItemRecord *record = &s_MenuItems[s_MenuItemCount++];
        record->menu = menu;
        record->position = (unsigned short)position;
        record->id = (unsigned short)info.wID;
        StrCopy(record->name, name);
        if (info.hSubMenu != NULL && WalkMenuItems(info.hSubMenu) < 0) {
            return -1;
        }
    }
    return 0;
}

int EnumerateMenuItems(HMENU menu)
{
    s_MenuItemCount = 0;
    return WalkMenuItems(menu);
}

int GetMenuItemRecordCount(void)
{
    return s_MenuItemCount;
}

int FindMenuItemById(int id, char *name)
{
    if (s_Menu == NULL) {
        return -1;
    }
    for (int i = 0; i < s_MenuItemCount; i++) {
        // A sub-menu item's id is its menu handle's low bits, not a command: it must not answer for one.
        if (s_MenuItems[i].id == id && GetSubMenu(s_MenuItems[i].menu, s_MenuItems[i].position) == NULL) {
            MENUITEMINFOA info;
            char current[MENU_NAME_SIZE];
            if (GetMenuItemRecord(s_MenuItems[i].menu, s_MenuItems[i].position, &info, current) != 0) {
                return -1;
            }
            StrCopy(name, current);
            return 0;
        }
    }
    return -1;
}

void OnMenuCommand(int id)
{
    if (id >= 0x500 || s_Menu == NULL) {
        return; // toolbar buttons: no toolbar exists
    }
    if (s_MenuCommandCallback != NULL) {
        s_MenuCommandCallback(id);
    }
    char name[MENU_NAME_SIZE];
    if (s_MenuItemNameCallback != NULL && FindMenuItemById(id, name) == 0) {
        s_MenuItemNameCallback(name);
    }
    for (int i = 0; i < s_ChosenIdCount; i++) {
        if (s_ChosenIds[i] == id) {
            return;
        }
    }
    if (s_ChosenIdCount < CHOSEN_ID_LIMIT) {
        s_ChosenIds[s_ChosenIdCount++] = id;
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Toolbar: none can be made, so every query answers as for a missing toolbar.

int FindToolbarButton(int id)
{
    return -1;
}

int GetToolbarHeight(void)
{
    return 0;
}

int ReleaseToolbarButtons(void)
{
    return -1;
}

// ---------------------------------------------------------------------------------------------------------------
// Cursor and mouse.

void ApplyCursorState(int shown)
{
    if (shown) {
        while (ShowCursor(TRUE) < 0) {
        }
    } else {
        while (ShowCursor(FALSE) >= 0) {
        }
    }
    if (g_Window.mainWindow != NULL) {
        PostMessageA(g_Window.mainWindow, WM_SETCURSOR, (WPARAM)g_Window.mainWindow, 0);
    }
    s_CursorApplied = shown;
}

int SetCursorVisible(int flag)
{
    if (flag != -1) {
        s_CursorWanted = flag;
    }
    int shown = s_CursorWanted == 1 || IsMenuShown();
    if (shown != s_CursorApplied || flag == -1) {
        ApplyCursorState(shown);
    }
    return 0;
}

int IsCursorShownByEngine(void)
{
    return s_CursorApplied;
}

void RestoreCursorAtEnd(void)
{
    if (!s_CursorApplied) {
        ApplyCursorState(1);
    }
}

int GetMousePoint(int *x, int *y)
{
    POINT point;
    GetCursorPos(&point);
    if (g_WindowSettings.windowed) {
        double rateX, rateY;
        GetWindowScaleRates(&rateX, &rateY);
        point.x = (int)((point.x - g_Window.clientRect.left) / rateX);
        point.y = (int)((point.y - g_Window.clientRect.top - GetToolbarHeight()) / rateY);
    }
    if (x != NULL) {
        *x = point.x;
    }
    if (y != NULL) {
        *y = point.y;
    }
    return 0;
}

void LogMousePoint(int button)
{
    if (s_MouseLogCount >= MOUSE_LOG_LIMIT) {
        return;
    }
    MousePress *press = &s_MouseLog[s_MouseLogCount++];
    press->button = button;
    GetMousePoint(&press->x, &press->y);
}

int GetMouseLogCount(void)
{
    return s_MouseLogCount;
}

// ---------------------------------------------------------------------------------------------------------------
// Dropped files.

void TakeDroppedFiles(HDROP drop)
{
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, NULL, 0);
    for (UINT i = 0; i < count && s_DroppedFileCount < DROPPED_FILE_LIMIT; i++) {
        UINT length = DragQueryFileA(drop, i, NULL, 0);
        char *name = (char *)ENGINE_ALLOC((size_t)length + 1);
        if (name == NULL) {
            break;
        }
        DragQueryFileA(drop, i, name, length + 1);
        s_DroppedFiles[s_DroppedFileCount++] = name;
    }
    DragFinish(drop);
}

int FreeDroppedFileNames(void)
{
    for (int i = 0; i < s_DroppedFileCount; i++) {
        FreeMemory(s_DroppedFiles[i]);
        s_DroppedFiles[i] = NULL;
    }
    s_DroppedFileCount = 0;
    return 0;
}
