// Media: the movie side's records shared by its files (table, frame update, Theora decoder, overlay placement).
// Other subsystems never include it; they reach movies through media.h. Window thread only, except the frame
// receiver's new-frame word and the decoder's thread words, which a streaming or decoder thread writes.
#pragma once

#include "media/media.h"
#include "file/file.h"
#include "image/image.h"

#include <ddraw.h>
#include <strmif.h>
#include <control.h>
#include <ogg/ogg.h>
#include <theora/theora.h>

#define MOVIE_PLAY_LOOP_BIT 2
#define MOVIE_REFERENCE_COUNT 13

// What a movie's opener learns from the decoder (GetTheoraMovieInfo).
struct MovieInfo {
    double frameRate; // frames per second; not finite when the stream's rate denominator is 0
    int frameCount;
    int width;
    int height;
};

// One entry of the decoder's page table: three owned blocks, each may be null.
struct MoviePageEntry {
    void *blocks[3];
};

// The Theora side's decoder. Its thread (when one runs) ends on the stop request and then sets the state to 3.
struct MovieTheoraDecoder {
    volatile LONG threadState;
    volatile LONG stopRequest;
    HANDLE thread;
    ogg_sync_state sync;
    ogg_stream_state stream;
    theora_info info;
    theora_comment comment;
    theora_state state;
    void *workBuffers[2];
    LONGLONG frameCount;
    int frameNumber; // 0..frameCount - 1
    MoviePageEntry *pageTable;
    int pageCount;
    BaseImage frame;
    IUnknown *auxiliary;
    int decodedPicture[2]; // cleared by every seek
};

#define MOVIE_THEORA_THREAD_ENDED 3

// The media-graph side's frame receiver: a streaming thread sets newFrame when a 24-bit RGB frame has arrived.
struct MovieFrameReceiver {
    volatile LONG newFrame;
    unsigned char *buffer;
    int width;
    int height;
    int pitch;
};

struct MovieRecord;
typedef void (*MovieFrameCallback)(MovieRecord *movie, unsigned int userValue);

// The last overlay placement; both rectangles are zero while the overlay is hidden.
struct MoviePlacement {
    int x, y, scale, show;
    RECT source;
    RECT destination;
};

// References 1 to 13 are released in a fixed order at close; these three have known interfaces.
enum MovieReferenceSlot {
    MOVIE_REF_OVERLAY_SURFACE = 1, // reference 2
    MOVIE_REF_MEDIA_CONTROL = 10,  // reference 11
    MOVIE_REF_MEDIA_SEEKING = 11,  // reference 12
};

struct MovieRecord {
    HandleRecordHeader header; // check number first, as every handle table's record
    int playType;              // 1 once, 3 looped; 0 counts as 1 on resume
    int theora;
    MovieTheoraDecoder *decoder;
    LONGLONG startTime; // engine microseconds at which frame 0 counts as shown
    FileHandle file;
    EngineHandle linkedSound; // -1 when none
    IUnknown *references[MOVIE_REFERENCE_COUNT];
    MovieFrameReceiver *receiver; // not owned
    int temporaryFile;
    WCHAR temporaryPath[MAX_PATH];
    LONGLONG stopPosition;
    int width;
    int height;
    int playing;
    int paused;
    int frameReady;
    int overlay;
    HANDLE event;
    BaseImage frameImage;
    int pixelsNotOwned;
    BaseImage *frameImagePointer;
    MoviePlacement placement;
    MovieFrameCallback frameCallback;
    unsigned int callbackUserValue;
};

// The table's slot walk and handle rebuild, shared by the walkers in the other files.
MovieRecord *FindMovie(EngineHandle movie);
MovieRecord *GetMovieInSlot(int slot);
EngineHandle GetMovieHandleOfSlot(int slot);

// The frame update without the handle check (PauseMovie runs it on a record it has checked).
int UpdateMovieRecord(MovieRecord *record);
// Hides a shown overlay (UpdateOverlay with DDOVER_HIDE) and zeroes the stored rectangles.
void HideMovieOverlay(MovieRecord *record);
// The start time that makes the clock go on from the decoder's current frame.
LONGLONG MovieRestartTime(const MovieRecord *record);

int GetTheoraMovieInfo(const MovieTheoraDecoder *decoder, MovieInfo *info);
int GetTheoraFrameNumber(const MovieTheoraDecoder *decoder);
int SeekTheoraFrame(MovieTheoraDecoder *decoder, int advance);
int CloseTheoraDecoder(MovieTheoraDecoder *decoder);

// What the movie side calls of the clock and the sound subsystem, replaceable by tests (media_test_hooks.h).
struct MovieServices {
    LONGLONG (*now)(int useCpuClock);
    int (*soundPosition)(EngineHandle sound);
    int (*stopSound)(EngineHandle sound);
    int (*playSound)(EngineHandle sound, int playType, int top);
    int (*deleteSound)(EngineHandle sound, int flag);
};
const MovieServices *GetMovieServices(void);
