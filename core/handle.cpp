// Engine handle layout and the single validation every handle table shares (sign, type tag, slot, presence,
// check number). Stateless; any thread.
#include "core/core.h"

EngineHandle MakeEngineHandle(int typeTag, int checkNumber, int slotIndex)
{
    return (typeTag & HANDLE_TYPE_BITS) | ((checkNumber << HANDLE_CHECK_SHIFT) & HANDLE_CHECK_MASK) |
           (slotIndex & HANDLE_INDEX_MASK);
}

void *ValidateEngineHandle(EngineHandle handle, int typeTag, void *const *slots, int slotCount)
{
    if (handle < 0 || (handle & HANDLE_TYPE_BITS) != typeTag) {
        return NULL;
    }
    int index = handle & HANDLE_INDEX_MASK;
    if (index >= slotCount || slots[index] == NULL) {
        return NULL;
    }
    HandleRecordHeader *record = (HandleRecordHeader *)slots[index];
    if (record->checkNumber != ((handle & HANDLE_CHECK_MASK) >> HANDLE_CHECK_SHIFT)) {
        return NULL;
    }
    return record;
}
