// MP3 to PCM through the media graph: the sound converter's last kind, which fills the converter's PCM-in-memory
// fields. The media graph that decodes is not built yet, so every call answers failure with nothing allocated in
// the converter. Called by whichever thread opens a converter.
#include "media/media.h"

int ConvertMp3ToPcm(SoundConverter *converter)
{
    return -1;
}
