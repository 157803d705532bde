// Which field covers a place, asked for places in screen order (each place
// at or after the one before): the later field in the list wins among
// several. Each field goes in and out of the heap once, so a pass over a
// format of N fields costs O(N log N) however the fields overlap.
#ifndef QOR_ARCTFDFIELDSWEEP_H
#define QOR_ARCTFDFIELDSWEEP_H

#include <memory>
#include <queue>
#include <vector>

#include "ArcTFDDrawableField.h"

class CArcTFDFieldSweep {
public:
    explicit CArcTFDFieldSweep(const std::vector<std::unique_ptr<CArcTFDDrawableField>> &fields);

    // The covering field of (row, column), or null.
    CArcTFDDrawableField *Cover(int row, int column);
    // The field that starts nearest at or after (row, column), or null.
    CArcTFDDrawableField *NearestFrom(int row, int column) const;

private:
    bool StartsAtOrBefore(int i, int row, int column) const;

    const std::vector<std::unique_ptr<CArcTFDDrawableField>> &m_Fields;
    std::vector<int> m_Order;               // list indexes in screen order
    size_t m_nNext = 0;                     // first of m_Order not yet pushed
    std::priority_queue<int> m_Active;      // list indexes of fields started
};

#endif
