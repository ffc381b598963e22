// Ordered list of opaque pointers, grown in steps; the owner frees items.
#include "JXListOBJ.h"

#include <cstdlib>
#include <cstring>

namespace {
constexpr int32_t kMaxItems = 0x10000000;
}

CJXListOBJ::CJXListOBJ(int32_t nGrow) : m_Grow(nGrow > 0 ? nGrow : 1) {}

CJXListOBJ::~CJXListOBJ()
{
    // Items are not freed here: a derived class's OnDataFree is gone by now,
    // so owners call RemoveAll in their own destructor.
    free(m_Items);
}

int32_t CJXListOBJ::Add(void* pItem)
{
    if (m_Count == m_Capacity) {
        if (m_Capacity > kMaxItems - m_Grow) {
            return JX_ERR_NOMEM;
        }
        const int32_t nCapacity = m_Capacity + m_Grow;
        void** pNew = static_cast<void**>(realloc(m_Items, sizeof(void*) * static_cast<size_t>(nCapacity)));
        if (pNew == nullptr) {
            return JX_ERR_NOMEM;
        }
        m_Items = pNew;
        m_Capacity = nCapacity;
    }
    m_Items[m_Count] = pItem;
    return m_Count++;
}

void* CJXListOBJ::GetAt(int32_t nIndex) const
{
    if (nIndex < 0 || nIndex >= m_Count) {
        return nullptr;
    }
    return m_Items[nIndex];
}

int32_t CJXListOBJ::RemoveAt(int32_t nIndex)
{
    if (nIndex < 0 || nIndex >= m_Count) {
        return JX_ERR_ARG;
    }
    memmove(m_Items + nIndex, m_Items + nIndex + 1, sizeof(void*) * static_cast<size_t>(m_Count - nIndex - 1));
    --m_Count;
    return JX_OK;
}

void CJXListOBJ::RemoveAll()
{
    // Take the items out first so OnDataFree may touch the list safely.
    void** pItems = m_Items;
    const int32_t nCount = m_Count;
    m_Items = nullptr;
    m_Count = 0;
    m_Capacity = 0;
    for (int32_t i = 0; i < nCount; ++i) {
        OnDataFree(pItems[i]);
    }
    free(pItems);
}

void CJXListOBJ::OnDataFree(void* /*pItem*/) {}
