// Ordered list of opaque items; the owner decides how an item is freed.
#pragma once

#include "JXObject.h"

class JXBASE_API CJXListOBJ : public CJXObject {
public:
    explicit CJXListOBJ(int32_t nGrow = 10);
    ~CJXListOBJ() override;
    CJXListOBJ(const CJXListOBJ&) = delete;
    CJXListOBJ& operator=(const CJXListOBJ&) = delete;

    // Append an item; its index, or JX_ERR_NOMEM.
    int32_t Add(void* pItem);
    int32_t GetCount() const { return m_Count; }
    // Item at the index, or null when out of range.
    void* GetAt(int32_t nIndex) const;
    // Remove one item without freeing it; 0 or JX_ERR_ARG.
    int32_t RemoveAt(int32_t nIndex);
    // Remove every item, freeing each through OnDataFree.
    void RemoveAll();
    // Frees one item on RemoveAll; the base does nothing.
    virtual void OnDataFree(void* pItem);

private:
    void** m_Items = nullptr;
    int32_t m_Count = 0;
    int32_t m_Capacity = 0;
    int32_t m_Grow;
};
