// Pin and media type enumerators: the cursors that the graph manager and the connection protocol walk over a
// filter's pins and a pin's proposed types. Each keeps the walked object's version to notice a changed set; the pin
// enumerator remembers the pins it handed out so that none is handed out twice. No lock is taken (the walked
// object's calls are made without the filter lock); reference counts are atomic, so any thread may hold one.
#include "media/media_base.h"

#include <limits.h>
#include <new>

// The shared argument rule of Next: a null array is refused, the fetched count starts at 0, and without one only a
// single item may be asked for.
static HRESULT CheckNextArguments(ULONG count, const void *array, ULONG *fetched)
{
    if (array == NULL) {
        return E_POINTER;
    }
    if (fetched != NULL) {
        *fetched = 0;
    } else if (count > 1) {
        return E_INVALIDARG;
    }
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Pin enumerator.

R_CPinEnumerator::R_CPinEnumerator(R_CFilterBase *filter, const R_CPinEnumerator *source)
    : m_Position(0), m_PinCount(0), m_Filter(filter), m_Version(0), m_RefCount(1)
{
    m_Filter->BaseFilter()->AddRef();
    if (source != NULL) {
        m_Position = source->m_Position;
        m_PinCount = source->m_PinCount;
        m_Version = source->m_Version;
        m_HandedOut.ListAppendAll(source->m_HandedOut);
    } else {
        m_Version = m_Filter->PinListVersion();
        m_PinCount = m_Filter->CountPins();
    }
}

R_CPinEnumerator::~R_CPinEnumerator()
{
    m_HandedOut.ListClear();
    m_Filter->BaseFilter()->Release();
}

HRESULT STDMETHODCALLTYPE R_CPinEnumerator::QueryInterface(REFIID id, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (IsEqualIID(id, IID_IEnumPins) || IsEqualIID(id, IID_IUnknown)) {
        return HandOutInterface(this, out);
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE R_CPinEnumerator::AddRef()
{
    return InterlockedIncrement(&m_RefCount);
}

ULONG STDMETHODCALLTYPE R_CPinEnumerator::Release()
{
    LONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) {
        delete this;
    }
    return count;
}

// A call that fails hands out nothing: the pins it already wrote are released and forgotten again.
void R_CPinEnumerator::TakeBackPins(IPin **pins, ULONG count)
{
    for (ULONG i = 0; i < count; i++) {
        m_HandedOut.ListRemoveAt(m_HandedOut.ListFindObject(static_cast<R_CPinBase *>(pins[i])));
        pins[i]->Release();
        pins[i] = NULL;
    }
}

HRESULT STDMETHODCALLTYPE R_CPinEnumerator::Next(ULONG count, IPin **pins, ULONG *fetched)
{
    HRESULT result = CheckNextArguments(count, pins, fetched);
    if (FAILED(result)) {
        return result;
    }
    if (m_Filter->PinListVersion() != m_Version) {
        m_Version = m_Filter->PinListVersion();
        m_PinCount = m_Filter->CountPins();
        m_Position = 0;
    }
    LONGLONG wanted = (LONGLONG)m_PinCount - m_Position;
    if ((LONGLONG)count < wanted) {
        wanted = count;
    }
    if (wanted <= 0) {
        return S_FALSE;
    }
    ULONG got = 0;
    while (wanted != 0 && m_Position < m_PinCount) {
        R_CPinBase *pin = m_Filter->PinAtIndex(m_Position++);
        if (pin == NULL) {
            TakeBackPins(pins, got);
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        if (m_HandedOut.ListFindObject(pin) != NULL) {
            continue;
        }
        pins[got] = pin->PinInterface();
        pins[got]->AddRef();
        m_HandedOut.ListAppend(pin);
        got++;
        wanted--;
    }
    if (fetched != NULL) {
        *fetched = got;
    }
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CPinEnumerator::Skip(ULONG count)
{
    if (m_Filter->PinListVersion() != m_Version) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if ((LONGLONG)count > (LONGLONG)m_PinCount - m_Position) {
        return S_FALSE;
    }
    m_Position += count;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinEnumerator::Reset()
{
    m_Version = m_Filter->PinListVersion();
    m_PinCount = m_Filter->CountPins();
    m_Position = 0;
    m_HandedOut.ListClear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CPinEnumerator::Clone(IEnumPins **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    if (m_Filter->PinListVersion() != m_Version) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    R_CPinEnumerator *clone = new (std::nothrow) R_CPinEnumerator(m_Filter, this);
    if (clone == NULL) {
        return E_OUTOFMEMORY;
    }
    if (clone->m_HandedOut.ListCount() != m_HandedOut.ListCount()) {
        clone->Release(); // a clone that lost part of the handed-out list would hand those pins out again
        return E_OUTOFMEMORY;
    }
    *out = clone;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------------------
// Media type enumerator.

R_CMediaTypeEnumerator::R_CMediaTypeEnumerator(R_CPinBase *pin, const R_CMediaTypeEnumerator *source)
    : m_Position(0), m_Pin(pin), m_Version(0), m_RefCount(1)
{
    m_Pin->PinInterface()->AddRef();
    if (source != NULL) {
        m_Position = source->m_Position;
        m_Version = source->m_Version;
    } else {
        m_Version = m_Pin->MediaTypeListVersion();
    }
}

R_CMediaTypeEnumerator::~R_CMediaTypeEnumerator()
{
    m_Pin->PinInterface()->Release();
}

HRESULT STDMETHODCALLTYPE R_CMediaTypeEnumerator::QueryInterface(REFIID id, void **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    if (IsEqualIID(id, IID_IEnumMediaTypes) || IsEqualIID(id, IID_IUnknown)) {
        return HandOutInterface(this, out);
    }
    *out = NULL;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE R_CMediaTypeEnumerator::AddRef()
{
    return InterlockedIncrement(&m_RefCount);
}

ULONG STDMETHODCALLTYPE R_CMediaTypeEnumerator::Release()
{
    LONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) {
        delete this;
    }
    return count;
}

// One proposal moved into a task-memory record. The local record is cleared on every path (its destructor), so a
// proposal that filled it and then failed, or a refused allocation, leaves no format block behind.
static HRESULT TakeProposedType(R_CPinBase *pin, int position, AM_MEDIA_TYPE **out)
{
    R_CMediaTypeRecord proposal;
    if (pin->ProposeMediaType(position, &proposal) != S_OK) {
        return S_FALSE;
    }
    *out = (AM_MEDIA_TYPE *)MediaTaskMemAlloc(sizeof(AM_MEDIA_TYPE));
    if (*out == NULL) {
        return E_OUTOFMEMORY;
    }
    **out = proposal;
    proposal.ResetToBlank(); // the block and the unknown's reference went with the copy
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CMediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched)
{
    if (types == NULL) {
        return E_POINTER;
    }
    if (m_Pin->MediaTypeListVersion() != m_Version) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    HRESULT result = CheckNextArguments(count, types, fetched);
    if (FAILED(result)) {
        return result;
    }
    ULONG got = 0;
    while (got < count && TakeProposedType(m_Pin, m_Position++, &types[got]) == S_OK) {
        got++;
    }
    if (fetched != NULL) {
        *fetched = got;
    }
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CMediaTypeEnumerator::Skip(ULONG count)
{
    if (count == 0) {
        return S_OK;
    }
    if (m_Pin->MediaTypeListVersion() != m_Version) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    const LONGLONG position = (LONGLONG)m_Position + count;
    m_Position = position < INT_MAX ? (int)position : INT_MAX;
    R_CMediaTypeRecord proposal;
    return m_Pin->ProposeMediaType(m_Position - 1, &proposal) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE R_CMediaTypeEnumerator::Reset()
{
    m_Position = 0;
    m_Version = m_Pin->MediaTypeListVersion();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE R_CMediaTypeEnumerator::Clone(IEnumMediaTypes **out)
{
    if (out == NULL) {
        return E_POINTER;
    }
    *out = NULL;
    if (m_Pin->MediaTypeListVersion() != m_Version) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    R_CMediaTypeEnumerator *clone = new (std::nothrow) R_CMediaTypeEnumerator(m_Pin, this);
    if (clone == NULL) {
        return E_OUTOFMEMORY;
    }
    *out = clone;
    return S_OK;
}
