// The software renderer's copy of the draw settings. The graphics core's setters write it whenever a setting that
// the software drawers obey changes; the drawers only read it. Window thread only.
#include "softrender/softrender.h"

MemImgDrawSettings g_MemImgDrawSettings;
