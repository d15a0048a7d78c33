// The end sequence's delete of every soft image: nothing makes a soft image until the soft-image table is built,
// so there is nothing to delete. Window thread only.
#include "image/image.h"

int DeleteAllSoftImages(void)
{
    return 0;
}
