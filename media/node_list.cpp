// Node-cached list of object pointers: doubly linked, positions are node pointers, and up to ten freed nodes are
// kept for reuse so that a list whose length goes up and down stops allocating. Holds no lock: its owner guards it.
#include "media/media_base.h"

#include <new>

static const int s_CacheLimit = 10;

R_CCachedNodeList::R_CCachedNodeList(int unusedLimit)
    : m_First(NULL), m_Last(NULL), m_Count(0), m_CacheLimit(s_CacheLimit), m_CacheCount(0), m_CacheHead(NULL)
{
    (void)unusedLimit;
}

R_CCachedNodeList::~R_CCachedNodeList()
{
    ListClear();
    while (m_CacheHead != NULL) {
        Node *node = m_CacheHead;
        m_CacheHead = node->next;
        delete node;
    }
}

R_CCachedNodeList::Position R_CCachedNodeList::ListAppend(void *object)
{
    Node *node = m_CacheHead;
    if (node != NULL) {
        m_CacheHead = node->next;
        m_CacheCount--;
    } else {
        node = new (std::nothrow) Node;
        if (node == NULL) {
            return NULL;
        }
    }
    node->object = object;
    node->next = NULL;
    node->previous = m_Last;
    if (m_Last != NULL) {
        m_Last->next = node;
    } else {
        m_First = node;
    }
    m_Last = node;
    m_Count++;
    return node;
}

bool R_CCachedNodeList::ListAppendAll(const R_CCachedNodeList &other)
{
    for (Node *node = other.m_First; node != NULL; node = node->next) {
        if (ListAppend(node->object) == NULL) {
            return false;
        }
    }
    return true;
}

void *R_CCachedNodeList::ListRemoveAt(Position position)
{
    if (position == NULL) {
        return NULL;
    }
    (position->previous != NULL ? position->previous->next : m_First) = position->next;
    (position->next != NULL ? position->next->previous : m_Last) = position->previous;
    void *object = position->object;
    if (m_CacheCount < m_CacheLimit) {
        position->next = m_CacheHead;
        m_CacheHead = position;
        m_CacheCount++;
    } else {
        delete position;
    }
    m_Count--;
    return object;
}

void R_CCachedNodeList::ListClear()
{
    while (m_First != NULL) {
        Node *node = m_First;
        m_First = node->next;
        delete node;
    }
    m_Last = NULL;
    m_Count = 0;
}

R_CCachedNodeList::Position R_CCachedNodeList::ListFindObject(void *object) const
{
    for (Node *node = m_First; node != NULL; node = node->next) {
        if (node->object == object) {
            return node;
        }
    }
    return NULL;
}

R_CCachedNodeList::Position R_CCachedNodeList::ListNextPosition(Position position) const
{
    return position != NULL ? position->next : m_First;
}

void *R_CCachedNodeList::ListNextObject(Position *position) const
{
    Node *node = *position;
    if (node == NULL) {
        return NULL;
    }
    *position = node->next;
    return node->object;
}
