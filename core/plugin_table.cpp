#include "core/plugin_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

CPluginArray g_ArrayPlugin;

CPluginArray::~CPluginArray() { std::free(m_pData); }

void CPluginArray::Grow(std::uint32_t needed) {
    if (needed <= m_nCapacity) return;
    if (!m_pData) {
        const std::uint32_t capacity = std::max(m_nGrowBy, needed);
        auto* block = static_cast<PluginItem*>(std::calloc(capacity, sizeof(PluginItem)));
        if (!block) throw CHResultError(E_OUTOFMEMORY);
        m_pData = block;
        m_nCapacity = capacity;
        return;
    }
    std::uint32_t step = m_nGrowBy;
    if (step == 0) step = std::min<std::uint32_t>(1024, std::max<std::uint32_t>(4, m_nCount / 8));
    const std::uint32_t capacity = std::max(m_nCapacity + step, needed);
    auto* block = static_cast<PluginItem*>(std::calloc(capacity, sizeof(PluginItem)));
    if (!block) throw CHResultError(E_OUTOFMEMORY);
    std::memcpy(block, m_pData, m_nCount * sizeof(PluginItem));
    std::free(m_pData);
    m_pData = block;
    m_nCapacity = capacity;
}

int CPluginArray::Add(const PluginItem& item) {
    Grow(m_nCount + 1);
    std::memcpy(&m_pData[m_nCount], &item, sizeof(PluginItem));
    return static_cast<int>(m_nCount++);
}

PluginItem& CPluginArray::At(int index) {
    if (static_cast<std::uint32_t>(index) >= m_nCount) throw CHResultError(E_INVALIDARG);
    return m_pData[index];
}

const PluginItem& CPluginArray::At(int index) const {
    if (static_cast<std::uint32_t>(index) >= m_nCount) throw CHResultError(E_INVALIDARG);
    return m_pData[index];
}

void CPluginArray::RemoveAll() {
    std::free(m_pData);
    m_pData = nullptr;
    m_nCount = 0;
    m_nCapacity = 0;
}

int pel::ApplyActiveMask(CPluginArray& table, DWORD mask) {
    int state = 0;
    const int count = table.Count();
    for (int i = 0; i < count; ++i) {
        PluginItem& item = table.At(i);
        item.bActiveOpt = MaskBit(mask, item.nId) ? 1 : 0;
        item.bEnable = item.bActiveOpt;
        if (item.bEnable != 0) state = 1;
    }
    return state;
}

void CPluginArray::Swap(CPluginArray& other) noexcept {
    std::swap(m_pData, other.m_pData);
    std::swap(m_nCount, other.m_nCount);
    std::swap(m_nCapacity, other.m_nCapacity);
    std::swap(m_nGrowBy, other.m_nGrowBy);
}
