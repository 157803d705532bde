// Covering-field queries in screen order.
#include "ArcTFDFieldSweep.h"

#include <algorithm>
#include <numeric>

CArcTFDFieldSweep::CArcTFDFieldSweep(const std::vector<std::unique_ptr<CArcTFDDrawableField>> &fields)
    : m_Fields(fields), m_Order(fields.size()) {
    std::iota(m_Order.begin(), m_Order.end(), 0);
    // By row and column; among fields at one place the later one first.
    std::sort(m_Order.begin(), m_Order.end(), [&fields](int a, int b) {
        const CArcTFDDrawableField &x = *fields[a], &y = *fields[b];
        if (x.GetRow() != y.GetRow()) return x.GetRow() < y.GetRow();
        if (x.GetColumn() != y.GetColumn()) return x.GetColumn() < y.GetColumn();
        return a > b;
    });
}

bool CArcTFDFieldSweep::StartsAtOrBefore(int i, int row, int column) const {
    const CArcTFDDrawableField &f = *m_Fields[i];
    return f.GetRow() < row || (f.GetRow() == row && f.GetColumn() <= column);
}

CArcTFDDrawableField *CArcTFDFieldSweep::Cover(int row, int column) {
    while (m_nNext < m_Order.size() && StartsAtOrBefore(m_Order[m_nNext], row, column))
        m_Active.push(m_Order[m_nNext++]);
    // A field that does not cover this place covers no later one either.
    while (!m_Active.empty()) {
        const CArcTFDDrawableField &f = *m_Fields[m_Active.top()];
        if (f.GetRow() == row && column < f.GetColumn() + f.GetLength()) return m_Fields[m_Active.top()].get();
        m_Active.pop();
    }
    return nullptr;
}

CArcTFDDrawableField *CArcTFDFieldSweep::NearestFrom(int row, int column) const {
    auto it = std::partition_point(m_Order.begin(), m_Order.end(), [&](int i) {
        const CArcTFDDrawableField &f = *m_Fields[i];
        return f.GetRow() < row || (f.GetRow() == row && f.GetColumn() < column);
    });
    return it == m_Order.end() ? nullptr : m_Fields[*it].get();
}
