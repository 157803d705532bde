// The name index of the output-variable table (see xfcginameindex.h).
#include "xfcginameindex.h"

#include <algorithm>

void XFcgiNameIndex::reset(size_t expected)
{
    size_t n = 64;
    while (n < 2 * expected)
        n *= 2;
    if (slots_.size() == n)
        std::fill(slots_.begin(), slots_.end(), Slot{0, kEmpty});
    else
        slots_.assign(n, Slot{0, kEmpty});
    used_ = 0;
}

int32_t XFcgiNameIndex::add(int32_t pos, std::string_view name, uint64_t h, bool replace)
{
    if (2 * (used_ + 1) > slots_.size())
        grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        Slot &s = slots_[i];
        if (s.pos == kEmpty) {
            s = Slot{h, pos};
            ++used_;
            return pos;
        }
        if (s.hash == h && xFcgiNamesEqual(nameAt_(context_, s.pos), name)) {
            if (replace)
                s.pos = pos;
            return s.pos;
        }
    }
}

void XFcgiNameIndex::grow()
{
    // The names in the index differ from each other: each goes to the
    // first free slot of its probe.
    std::vector<Slot> old;
    old.swap(slots_);
    slots_.assign(std::max<size_t>(64, 2 * old.size()), Slot{0, kEmpty});
    const size_t mask = slots_.size() - 1;
    for (const Slot &s : old) {
        if (s.pos == kEmpty)
            continue;
        size_t i = s.hash & mask;
        while (slots_[i].pos != kEmpty)
            i = (i + 1) & mask;
        slots_[i] = s;
    }
}
