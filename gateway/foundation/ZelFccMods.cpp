// CZelFccMods: translation of the host's field control modifications.
#include "ZelFccMods.h"

#include <utility>

namespace {

// A second byte that names a display attribute: '0' to '7'.
bool IsAttrDigit(unsigned char b) { return b >= '0' && b <= '7'; }

unsigned char AttrOf(unsigned char b) {
    return IsAttrDigit(b) ? static_cast<unsigned char>(b | 0x80) : 0;
}

}  // namespace

void CZelFccMods::Reset() { m_buffer.SetLength(0, 0); }

unsigned char CZelFccMods::ProcessFccIntensity(unsigned char code) const {
    switch (code) {
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case 'N':
        return 0;
    case 'O':
        return 1;
    case 'L': case 'R': case 'S':
        return 2;
    case 'B': case 'F': case 'G': case 'H':
        return 3;
    default:
        return code;
    }
}

void CZelFccMods::TranslatePair(unsigned char a, unsigned char b, unsigned char &r1, unsigned char &r2) const {
    r1 = r2 = 0;
    switch (a) {
    case 0x00: case ' ': case '*':
        r2 = AttrOf(b);
        break;
    case '!':
        r1 = ProcessFccIntensity(b) | 0x30;
        r2 = '3';
        break;
    case '#':
        r1 = ProcessFccIntensity(b) | 0x74;
        break;
    case '.':
        if (b == 'P')
            r2 = '3';
        else if (b == 'U')
            r2 = '0';
        else
            r1 = ProcessFccIntensity(b) | 0x30;
        break;
    default:
        if (a >= 0x30 && a <= 0x3F) r1 = a | 0x80;
        r2 = AttrOf(b);
        break;
    }
}

int CZelFccMods::TranslateMods() {
    if (m_buffer.GetLength() % 2) m_buffer << '\0';
    const int pairs = m_buffer.GetLength() / 2;
    int keep = 0;   // bytes up to the last pair that sets any property
    for (int i = 0; i < pairs; ++i) {
        unsigned char r1 = 0, r2 = 0;
        TranslatePair(static_cast<unsigned char>(m_buffer.GetAt(2 * i)),
                      static_cast<unsigned char>(m_buffer.GetAt(2 * i + 1)), r1, r2);
        m_buffer.SetAt(2 * i, static_cast<char>(r1));
        m_buffer.SetAt(2 * i + 1, static_cast<char>(r2));
        if ((r1 | r2) > 15) keep = 2 * (i + 1);
    }
    m_buffer.SetEndOfBuffer(keep);
    return 0;
}

int CZelFccMods::ByteAt(int i, int j) const {
    if (i < 0 || j < 0 || j > 1) return -1;
    const long long at = 2LL * i + j;
    if (at >= m_buffer.GetLength()) return -1;
    return static_cast<unsigned char>(m_buffer.GetAt(static_cast<int>(at)));
}

bool CZelFccMods::InternalIsChanged(unsigned char mask, int i, int j) const {
    const int byte = ByteAt(i, j);
    return byte >= 0 && (byte & (mask << 4)) != 0;
}

int CZelFccMods::InternalIsSet(unsigned char mask, unsigned char value, int i, int j) const {
    const int byte = ByteAt(i, j);
    if (byte < 0 || !(byte & (mask << 4))) return -1;
    return (byte & mask) == value ? 1 : 0;
}

int CZelFccMods::Attach(const CBuffer &b) {
    // A copy: sharing b's storage would free it twice.
    if (&b == &m_buffer) return 1;
    Reset();
    m_buffer.FreeExtra();
    m_buffer += b;
    return 1;
}

CBuffer CZelFccMods::Detach() {
    CBuffer out(std::move(m_buffer));
    m_buffer = CBuffer();
    return out;
}
