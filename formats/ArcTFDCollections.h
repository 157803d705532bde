// Collections of form fields and the point, size and rectangle of screen
// geometry (rows and columns from 0). The sets walk through a position
// (Pos_t) like the format's other interfaces, and also work in range-for.
#ifndef QOR_ARCTFDCOLLECTIONS_H
#define QOR_ARCTFDCOLLECTIONS_H

#include <set>
#include <vector>

#include "ArcTFDDrawableField.h"

struct CPoint {
    int x = 0, y = 0;
};

struct CSize {
    int cx = 0, cy = 0;
    CSize &operator+=(const CSize &o) {
        cx += o.cx;
        cy += o.cy;
        return *this;
    }
};

struct CRect {
    int left = 0, top = 0, right = 0, bottom = 0;
};

namespace CArcTFD {

// Screen order of fields: by row, then by column; a null field sorts last.
// Two fields at the same place are equivalent.
struct CArcTFDFldCompare {
    bool operator()(const CArcTFDDrawableField *a, const CArcTFDDrawableField *b) const {
        if (!a) return false;
        if (!b) return true;
        return a->GetRow() < b->GetRow() || (a->GetRow() == b->GetRow() && a->GetColumn() < b->GetColumn());
    }
};

// The walking interface shared by the collections below.
template <class Container>
class Collection {
public:
    using Pos_t = typename Container::iterator;
    using value_type = typename Container::value_type;

    int GetCount() const { return static_cast<int>(m_Items.size()); }
    bool Empty() const { return m_Items.empty(); }
    void Clear() { m_Items.clear(); }
    Pos_t GetStartPos() { return m_Items.begin(); }
    bool IsPosAtEnd(const Pos_t &pos) const { return pos == m_Items.end(); }
    // Move the position; true when it is then at the end (stepping back
    // from the first element also ends there).
    bool GetNextPos(Pos_t &pos) {
        if (pos != m_Items.end()) ++pos;
        return pos == m_Items.end();
    }
    bool GetPrevPos(Pos_t &pos) {
        if (pos == m_Items.begin()) pos = m_Items.end();
        else --pos;
        return pos == m_Items.end();
    }
    const value_type &GetAtPos(const Pos_t &pos) const { return *pos; }
    Pos_t EraseAtPos(Pos_t pos) { return m_Items.erase(pos); }

    typename Container::const_iterator begin() const { return m_Items.begin(); }
    typename Container::const_iterator end() const { return m_Items.end(); }

protected:
    Container m_Items;
};

// Field ids in ascending order.
class SetOfIds_t : public Collection<std::set<CArcCountId::Id_t>> {
public:
    void Insert(CArcCountId::Id_t id) { m_Items.insert(id); }
    Pos_t Find(CArcCountId::Id_t id) { return m_Items.find(id); }
};

// Fields in screen order (not owned), with margins for their bounding size.
class SetOfPointers_t : public Collection<std::set<CArcTFDDrawableField *, CArcTFDFldCompare>> {
public:
    // False when a field at the same place is in the set already.
    bool Insert(CArcTFDDrawableField *f) { return m_Items.insert(f).second; }
    Pos_t Find(CArcTFDDrawableField *f) { return m_Items.find(f); }

    CSize &GetUpperLeftMargin() { return m_UpperLeftMargin; }
    CSize &GetLowerRightMargin() { return m_LowerRightMargin; }
    // Smallest column and smallest row, each over all fields; (-1, -1) for
    // an empty set.
    CPoint GetUpperLeftCorner() const;
    // Columns from the smallest column to the last one covered, rows from
    // the smallest to the largest, plus both margins; (1, 1) plus the
    // margins for an empty set.
    CSize GetSize() const;

private:
    CSize m_UpperLeftMargin, m_LowerRightMargin;
};

// Fields in the order they were added (not owned).
class VectorOfPointers_t : public Collection<std::vector<CArcTFDDrawableField *>> {
public:
    void InsertBack(CArcTFDDrawableField *f) { m_Items.push_back(f); }
    CArcTFDDrawableField *operator[](int i) const { return m_Items[static_cast<size_t>(i)]; }
};

}  // namespace CArcTFD

#endif
