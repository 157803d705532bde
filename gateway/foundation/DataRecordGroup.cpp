// CGroupItem: the occurrence index and the count of used occurrences.
#include <algorithm>

#include "DataRecord.h"
#include "ZelBuffer.h"
#include "logprint.h"

bool CGroupItem::SetIndex(unsigned index) {
    if (index < 1 || index > GetMaxOccurence()) {
        if (logCtrlFlgs & LOG_ERRORS)
            logPrintf("#DataRecord: index %u of %s is outside 1..%u\n", index,
                      m_strName.c_str(), GetMaxOccurence());
        return false;
    }
    m_nIndex = index;
    return true;
}

unsigned CGroupItem::GetCount(const CBuffer *buffer) const {
    if (!buffer || m_nLength == 0) return 0;
    const uint64_t at = CalculateTotalOffset();
    const uint64_t have = static_cast<uint64_t>(std::max(buffer->GetLength(), 0));
    if (at >= have) return 0;
    uint64_t end = at + static_cast<uint64_t>(GetMaxOccurence()) * m_nLength;
    if (end > have) end = have;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(buffer->GetBuffer());
    // Trailing blanks, control characters and bytes from 0x80 up are no data.
    while (end > at && (p[end - 1] <= 0x20 || p[end - 1] >= 0x7F)) --end;
    return static_cast<unsigned>((end - at + m_nLength - 1) / m_nLength);
}
