// Bounding corner and size of a set of fields.
#include "ArcTFDCollections.h"

#include <algorithm>

namespace CArcTFD {

CPoint SetOfPointers_t::GetUpperLeftCorner() const {
    if (m_Items.empty()) return CPoint{-1, -1};
    CPoint p{(*m_Items.begin())->GetColumn(), (*m_Items.begin())->GetRow()};
    for (const CArcTFDDrawableField *f : m_Items) {
        p.x = std::min(p.x, f->GetColumn());
        p.y = std::min(p.y, f->GetRow());
    }
    return p;
}

CSize SetOfPointers_t::GetSize() const {
    CSize s{1, 1};
    if (!m_Items.empty()) {
        const CPoint corner = GetUpperLeftCorner();
        int lastColumn = corner.x, lastRow = corner.y;
        for (const CArcTFDDrawableField *f : m_Items) {
            lastColumn = std::max(lastColumn, f->GetColumn() + f->GetLength() - 1);
            lastRow = std::max(lastRow, f->GetRow());
        }
        s = CSize{lastColumn - corner.x + 1, lastRow - corner.y + 1};
    }
    s += m_UpperLeftMargin;
    s += m_LowerRightMargin;
    return s;
}

}  // namespace CArcTFD
