// IME messages of the main window: the engine's copy of the IME state for text entry (composition string, clause
// table, attributes, cursor, candidate list, open status) and the finished characters, which go into the typed
// character ring like typed keys. Every string the IME hands over is cut to its buffer and terminated. Window
// thread only.
#include "core/window_state.h"

#include <imm.h>

#define IME_STRING_SIZE 1024
#define IME_CLAUSE_SIZE 4096

static int s_ImeEnabled;
static int s_Composing;
static char s_Composition[IME_STRING_SIZE];
static int s_CompositionCursor;
static DWORD s_Clauses[IME_CLAUSE_SIZE / 4];
static int s_ClauseCount;
static unsigned char s_Attributes[IME_STRING_SIZE];
static int s_AttributeLength;
static CANDIDATELIST *s_CandidateList;
static int s_CandidateListSize;
static int s_ImeOpen;
static int s_OpenStatusGuard;

typedef HIMC(WINAPI *ImmGetContextFunction)(HWND);
typedef BOOL(WINAPI *ImmReleaseContextFunction)(HWND, HIMC);
typedef BOOL(WINAPI *ImmGetOpenStatusFunction)(HIMC);
typedef DWORD(WINAPI *ImmGetCandidateListFunction)(HIMC, DWORD, LPCANDIDATELIST, DWORD);

int GetImeEnableFlag(void)
{
    return s_ImeEnabled;
}

int SetImeEnableFlag(int flag)
{
    s_ImeEnabled = flag;
    return 0;
}

static void FreeCandidateList(void)
{
    if (s_CandidateList != NULL) {
        FreeMemory(s_CandidateList);
        s_CandidateList = NULL;
    }
    s_CandidateListSize = 0;
}

int ClearImeCompositionText(void)
{
    MemFill(s_Composition, 0, sizeof(s_Composition));
    return 0;
}

int ClearImeComposition(void)
{
    FreeCandidateList();
    return ClearImeCompositionText();
}

const char *GetImeCompositionText(void)
{
    return s_Composition;
}

void GetImeState(ImeState *state)
{
    state->composing = s_Composing;
    state->cursor = s_CompositionCursor;
    state->clauses = s_Clauses;
    state->clauseCount = s_ClauseCount;
    state->attributes = s_Attributes;
    state->attributeLength = s_AttributeLength;
    state->candidates = s_CandidateList;
    state->candidateListSize = s_CandidateListSize;
    state->open = s_ImeOpen;
}

// Reads one of the IME's strings into a buffer of outSize bytes: at most outSize - 1 bytes are kept, and the text
// is always terminated. A longer string is read whole into a temporary block and cut.
int ReadImeString(ImmGetCompositionStringFunction getString, HIMC context, DWORD index, void *out, int outSize)
{
    unsigned char *buffer = (unsigned char *)out;
    buffer[0] = '\0';
    LONG size = getString(context, index, NULL, 0);
    if (size <= 0) {
        return 0;
    }
    unsigned char *whole = NULL;
    if (size > outSize - 1) {
        whole = (unsigned char *)ENGINE_ALLOC((size_t)size);
        if (whole == NULL) {
            return 0;
        }
    }
    LONG read = whole != NULL ? getString(context, index, whole, (DWORD)size)
                              : getString(context, index, buffer, (DWORD)(outSize - 1));
    read = read < 0 ? 0 : (read > outSize - 1 ? outSize - 1 : read);
    if (whole != NULL) {
        MemCopy(buffer, whole, (size_t)read);
        FreeMemory(whole);
    }
    buffer[read] = '\0';
    return (int)read;
}

HIMC OpenImeContext(HWND window)
{
    ImmGetContextFunction getContext = BOUND_AS(ImmGetContextFunction, BoundImmFunction(IMM_GET_CONTEXT));
    return getContext != NULL && BoundImmFunction(IMM_RELEASE_CONTEXT) != NULL ? getContext(window) : NULL;
}

void CloseImeContext(HWND window, HIMC context)
{
    BOUND_AS(ImmReleaseContextFunction, BoundImmFunction(IMM_RELEASE_CONTEXT))(window, context);
}

// Reads the parts of the composition that the message says have changed (its lParam's GCS_ bits): a part the
// message does not name may still hold an older string, such as a result already taken.
static void ReadComposition(HWND window, LPARAM changed)
{
    ImmGetCompositionStringFunction getString =
        BOUND_AS(ImmGetCompositionStringFunction, BoundImmFunction(IMM_GET_COMPOSITION_STRING));
    HIMC context = getString != NULL ? OpenImeContext(window) : NULL;
    if (context == NULL) {
        return;
    }
    if (changed & GCS_COMPSTR) {
        ReadImeString(getString, context, GCS_COMPSTR, s_Composition, sizeof(s_Composition));
    }
    if (changed & GCS_RESULTSTR) {
        char result[IME_STRING_SIZE];
        int resultLength = ReadImeString(getString, context, GCS_RESULTSTR, result, sizeof(result));
        for (int i = 0; i < resultLength; i++) {
            PushInputChar((unsigned char)result[i]);
        }
        ReadImeString(getString, context, GCS_COMPSTR, s_Composition, sizeof(s_Composition));
    }
    if (changed & GCS_CURSORPOS) {
        LONG cursor = getString(context, GCS_CURSORPOS, NULL, 0);
        s_CompositionCursor = MbByteOffsetToCharCount(s_Composition, cursor < 0 ? 0 : (int)cursor);
    }
    if (changed & GCS_COMPCLAUSE) {
        LONG clauseBytes = getString(context, GCS_COMPCLAUSE, NULL, 0);
        if (clauseBytes > 0 && clauseBytes <= (LONG)sizeof(s_Clauses)) {
            clauseBytes = getString(context, GCS_COMPCLAUSE, s_Clauses, sizeof(s_Clauses));
        } else {
            clauseBytes = 0;
        }
        s_ClauseCount = clauseBytes > 0 ? (int)(clauseBytes / 4) : 0;
    }
    if (changed & GCS_COMPATTR) {
        s_AttributeLength = ReadImeString(getString, context, GCS_COMPATTR, s_Attributes, sizeof(s_Attributes));
    }
    CloseImeContext(window, context);
}

static void FetchCandidateList(HWND window)
{
    ImmGetCandidateListFunction getList =
        BOUND_AS(ImmGetCandidateListFunction, BoundImmFunction(IMM_GET_CANDIDATE_LIST));
    HIMC context = getList != NULL ? OpenImeContext(window) : NULL;
    if (context == NULL) {
        return;
    }
    FreeCandidateList();
    char text[256];
    DWORD size = getList(context, 0, NULL, 0);
    if (size == 0) {
        SprintfWrap(text, sizeof(text), "漢字変換候補のデータサイズが０でした  DefHWND:%x IMC:%x\n",
                    (unsigned int)(DWORD_PTR)window, (unsigned int)(DWORD_PTR)context);
        AddLog(text);
    } else {
        s_CandidateList = (CANDIDATELIST *)ENGINE_ALLOC(size);
        if (s_CandidateList == NULL) {
            FatalErrorExitFormat("漢字変換候補を保存するメモリの確保に失敗しました( 確保しようとしたサイズ %d バイト )",
                                 (int)size);
        }
        if (getList(context, 0, s_CandidateList, size) == 0) {
            FreeCandidateList();
            SprintfWrap(text, sizeof(text), "漢字変換候補の取得に失敗しました  BufSize:%d\n", (int)size);
            AddLog(text);
        } else {
            s_CandidateListSize = (int)size;
        }
    }
    CloseImeContext(window, context);
}

static LRESULT OnOpenStatusChanged(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (s_OpenStatusGuard) {
        return 0;
    }
    s_OpenStatusGuard = 1;
    LRESULT result = DefWindowProcA(window, WM_IME_NOTIFY, wParam, lParam);
    LONGLONG start = GetNowMicroCount(0);
    while (GetNowMicroCount(0) - start < 2000) {
        if (ProcessMessageCore() != 0) {
            break;
        }
    }
    ImmGetOpenStatusFunction getOpen = BOUND_AS(ImmGetOpenStatusFunction, BoundImmFunction(IMM_GET_OPEN_STATUS));
    HIMC context = getOpen != NULL ? OpenImeContext(window) : NULL;
    if (context != NULL) {
        s_ImeOpen = getOpen(context) != 0;
        CloseImeContext(window, context);
    }
    s_OpenStatusGuard = 0;
    return result;
}

LRESULT HandleImeMessage(UINT message, HWND window, WPARAM wParam, LPARAM lParam)
{
    StartInputTimer();
    switch (message) {
    case WM_IME_STARTCOMPOSITION:
        s_Composing = 1;
        return 0;
    case WM_IME_ENDCOMPOSITION:
        MemFill(s_Composition, 0, sizeof(s_Composition));
        s_Composing = 0;
        return 0;
    case WM_IME_COMPOSITION:
        ReadComposition(window, lParam);
        return 0;
    case WM_IME_NOTIFY:
        switch (wParam) {
        case IMN_CHANGECANDIDATE:
        case IMN_OPENCANDIDATE:
        case IMN_SETCANDIDATEPOS:
            FetchCandidateList(window);
            return 0;
        case IMN_CLOSECANDIDATE:
            FreeCandidateList();
            return 0;
        case IMN_SETOPENSTATUS:
            return OnOpenStatusChanged(window, wParam, lParam);
        }
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
