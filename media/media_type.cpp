// Media type record and task memory: the owning copy, clear, compare and pattern rules of AM_MEDIA_TYPE, and the
// records and strings handed across platform interfaces as COM task memory (through the bound ole32 entries). A
// record belongs to whoever holds it; these functions take no lock and may run on any thread.
#include "media/media_base.h"

#include <string.h>

static bool FormatBlocksEqual(const AM_MEDIA_TYPE &left, const AM_MEDIA_TYPE &right)
{
    if (left.cbFormat != right.cbFormat) {
        return false;
    }
    return left.cbFormat == 0 || memcmp(left.pbFormat, right.pbFormat, left.cbFormat) == 0;
}

void ResetToBlank(AM_MEDIA_TYPE *record)
{
    memset(record, 0, sizeof(*record));
    record->bFixedSizeSamples = TRUE;
    record->lSampleSize = 1;
}

void ClearMediaTypeRecord(AM_MEDIA_TYPE *record)
{
    if (record->cbFormat != 0) {
        MediaTaskMemFree(record->pbFormat);
        record->cbFormat = 0;
        record->pbFormat = NULL;
    }
    if (record->pUnk != NULL) {
        record->pUnk->Release();
        record->pUnk = NULL;
    }
}

// A zero-size format keeps no pointer: the source's would be shared without an owner.
HRESULT DuplicateMediaTypeRecord(AM_MEDIA_TYPE *target, const AM_MEDIA_TYPE *source)
{
    *target = *source;
    target->pbFormat = NULL;
    if (source->cbFormat != 0) {
        target->pbFormat = (BYTE *)MediaTaskMemAlloc(source->cbFormat);
        if (target->pbFormat == NULL) {
            target->cbFormat = 0;
            target->pUnk = NULL;
            return E_OUTOFMEMORY;
        }
        memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
    }
    if (target->pUnk != NULL) {
        target->pUnk->AddRef();
    }
    return S_OK;
}

AM_MEDIA_TYPE *AllocMediaTypeRecord(const AM_MEDIA_TYPE *source)
{
    AM_MEDIA_TYPE *record = (AM_MEDIA_TYPE *)MediaTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
    if (record != NULL && FAILED(DuplicateMediaTypeRecord(record, source))) {
        MediaTaskMemFree(record);
        record = NULL;
    }
    return record;
}

void FreeMediaTypeRecord(AM_MEDIA_TYPE *record)
{
    if (record != NULL) {
        ClearMediaTypeRecord(record);
        MediaTaskMemFree(record);
    }
}

HRESULT CopyWideStringToTaskMem(const WCHAR *text, WCHAR **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    const SIZE_T bytes = (SIZE_T)(lstrlenW(text) + 1) * sizeof(WCHAR);
    *out = (WCHAR *)MediaTaskMemAlloc(bytes);
    if (*out == NULL) {
        return E_OUTOFMEMORY;
    }
    memcpy(*out, text, bytes);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// The record class.

R_CMediaTypeRecord::R_CMediaTypeRecord()
{
    ::ResetToBlank(this);
}

R_CMediaTypeRecord::R_CMediaTypeRecord(const AM_MEDIA_TYPE &source)
{
    DuplicateMediaTypeRecord(this, &source);
}

R_CMediaTypeRecord::~R_CMediaTypeRecord()
{
    ::ClearMediaTypeRecord(this);
}

void R_CMediaTypeRecord::ResetToBlank()
{
    ::ResetToBlank(this);
}

void R_CMediaTypeRecord::ClearMediaTypeRecord()
{
    ::ClearMediaTypeRecord(this);
}

HRESULT R_CMediaTypeRecord::AssignMediaType(const AM_MEDIA_TYPE &source)
{
    if (&source == this) {
        return S_OK;
    }
    ::ClearMediaTypeRecord(this);
    return DuplicateMediaTypeRecord(this, &source);
}

bool R_CMediaTypeRecord::SameMediaType(const AM_MEDIA_TYPE &other) const
{
    return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
           IsEqualGUID(formattype, other.formattype) && FormatBlocksEqual(*this, other);
}

bool R_CMediaTypeRecord::HasWildcardIds() const
{
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

bool R_CMediaTypeRecord::MatchesPattern(const AM_MEDIA_TYPE &pattern) const
{
    if (!IsEqualGUID(pattern.majortype, GUID_NULL) && !IsEqualGUID(pattern.majortype, majortype)) {
        return false;
    }
    if (!IsEqualGUID(pattern.subtype, GUID_NULL) && !IsEqualGUID(pattern.subtype, subtype)) {
        return false;
    }
    if (IsEqualGUID(pattern.formattype, GUID_NULL)) {
        return true;
    }
    return IsEqualGUID(pattern.formattype, formattype) && FormatBlocksEqual(*this, pattern);
}
