// What host fields give at run time rather than from the format: the flag
// bytes of the host's field control modifications, and the date text of a
// date field.
#include <algorithm>

#include "ArcMcsField.h"
#include "ZelFccMods.h"
#include "ZelName.h"

namespace {

// The one translation of host modification characters.
const CZelFccMods &Translator() {
    static const CZelFccMods mods;
    return mods;
}

}  // namespace

unsigned char CArcMcsDataField::ProcessRealFccM(unsigned char m, unsigned char n) const {
    unsigned char r1 = 0, r2 = 0;
    Translator().TranslatePair(m, n, r1, r2);
    return r1;
}

unsigned char CArcMcsDataField::ProcessRealFccN(unsigned char m, unsigned char n) const {
    unsigned char r1 = 0, r2 = 0;
    Translator().TranslatePair(m, n, r1, r2);
    return r2;
}

bool CArcMcsDataField::ProcessFccModN(const CZelFccMods &hostMods, unsigned char &r1, unsigned char &r2) const {
    r1 = r2 = 0;
    const CBuffer &pairs = hostMods.GetBuffer();
    const long long at = 2LL * (m_nIndex - 1);
    if (m_nIndex < 1 || at >= pairs.GetLength()) return false;
    // A list of odd length ends in a pair whose N is missing: it counts as
    // 0, as TranslateMods pads it.
    const auto m = static_cast<unsigned char>(pairs.GetAt(static_cast<int>(at)));
    const auto n = at + 1 < pairs.GetLength() ? static_cast<unsigned char>(pairs.GetAt(static_cast<int>(at + 1))) : 0;
    Translator().TranslatePair(m, static_cast<unsigned char>(n), r1, r2);
    return true;
}

const SafeString &CArcMcsSpecialField::LoadDate(const char *pattern, int cut) {
    // Room for any sensible pattern; a longer text comes back empty.
    const CTime now = CTime::FormatCurrentTime(pattern, 256);
    m_strText = now.GetData();
    const int surplus = static_cast<int>(m_strText.size()) - m_nLength;
    if (surplus > 0) m_strText.erase(static_cast<size_t>(std::clamp(cut, 0, m_nLength)), static_cast<size_t>(surplus));
    return m_strText;
}
