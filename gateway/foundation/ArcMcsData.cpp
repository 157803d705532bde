// MCS header and screen data. See ArcMcsData.h.
#include "ArcMcsData.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "logprint.h"

namespace {

constexpr int kMaxCount = 0xFFFF;   // the count is a 16-bit word

}  // namespace

// --- CArcMcsHdr ---------------------------------------------------------

void CArcMcsHdr::StoreHeader(CBuffer &b, uint16_t count) const {
    b.AddCobolString(m_strName.c_str(), kNameWidth);
    b.AddCobolString(m_strTerminal.c_str(), kTerminalWidth);
    b << m_cFunction << m_cHold << m_nSize << m_cStatus << m_cFiller << count;
}

void CArcMcsHdr::StoreInBuffer(CBuffer &b) const { StoreHeader(b, m_nCount); }

void CArcMcsHdr::LoadFromBuffer(CBuffer &buffer, int) {
    // Parse a copy of exactly 20 bytes, so that a short buffer is neither
    // read past nor extended; what it lacks reads as NUL bytes.
    const int available = std::clamp(buffer.GetLength(), 0, kHeaderLength);
    CBuffer h(kHeaderLength);
    if (available > 0) std::memcpy(h.GetBuffer(), buffer.GetBuffer(), static_cast<size_t>(available));
    buffer.SetOffset(available);

    std::string text;
    h.GetCobolString(text, kNameWidth, 1);
    m_strName = text;
    h.GetCobolString(text, kTerminalWidth, 1);
    m_strTerminal = text;
    h >> m_cFunction >> m_cHold >> m_nSize >> m_cStatus >> m_cFiller >> m_nCount;
}

// --- CArcMcsData --------------------------------------------------------

CArcMcsData &CArcMcsData::operator=(const CArcMcsData &o) {
    if (this != &o) {
        CArcMcsHdr::operator=(o);
        m_bFlags = o.m_bFlags;
        m_nBookmark = o.m_nBookmark;
        m_data = o.m_data;
    }
    return *this;
}

void CArcMcsData::EnableLastBookmark(int on) {
    if (on)
        m_bFlags |= kSendFromBookmark;
    else
        m_bFlags &= static_cast<uint8_t>(~kSendFromBookmark);
}

uint16_t CArcMcsData::UsedCount() const {
    return static_cast<uint16_t>(std::min<int>(m_nCount, m_data.GetLength()));
}

int CArcMcsData::StoredDataLength() const {
    const int used = UsedCount();
    if ((m_bFlags & kSendFromBookmark) && m_nBookmark != 0)
        return std::clamp(m_data.GetLength() - m_nBookmark, 0, used);
    return used;
}

int CArcMcsData::GetLength() const { return kHeaderLength + StoredDataLength(); }

void CArcMcsData::StoreInBuffer(CBuffer &b) const {
    StoreHeader(b, UsedCount());
    const int n = StoredDataLength();
    if (n <= 0) return;
    const int from = (m_bFlags & kSendFromBookmark) && m_nBookmark != 0 ? m_nBookmark : 0;
    b.AddChars(m_data.GetBuffer() + from, n);
}

void CArcMcsData::LoadFromBuffer(CBuffer &buffer, int total) {
    CArcMcsHdr::LoadFromBuffer(buffer, total);
    // The data takes the length the sender announced; it is filled with
    // what the buffer holds of it (consumed), and the rest stays zero.
    const int n = total - kHeaderLength;
    if (n < 1) {
        m_data.SetLength(0, 0);
        return;
    }
    CBuffer data(n);   // n zero bytes
    if (data.GetLength() != n) {
        m_data.SetLength(0, 0);   // no memory: the data stays empty
        return;
    }
    const int k = std::min(n, std::max(buffer.GetLength(), 0));
    if (k > 0) {
        std::memcpy(data.GetBuffer(), buffer.GetBuffer(), static_cast<size_t>(k));
        buffer.SetOffset(k);
    }
    m_data = std::move(data);
}

int CArcMcsData::SetData(const CBuffer &src, int pos, int n) {
    if (pos < 0 || n < 0 || static_cast<long>(pos) + n > kMaxCount) {
        LOG_ASSERT(pos >= 0 && n >= 0 && static_cast<long>(pos) + n <= kMaxCount);
        return 0;
    }
    // Take the source bytes first: src may be this object's own data.
    const int k = std::min(n, std::max(src.GetLength(), 0));
    std::string bytes(src.GetBuffer(), static_cast<size_t>(k));
    bytes.append(static_cast<size_t>(n - k), ' ');

    m_nBookmark = pos;
    const int end = pos + n;
    if (m_data.GetLength() < end) {
        m_data.SetLength(end, 1);
        if (m_data.GetLength() != end) return 0;
    }
    if (end > m_nCount) m_nCount = static_cast<uint16_t>(end);
    if (n > 0) std::memcpy(m_data.GetBuffer() + pos, bytes.data(), static_cast<size_t>(n));
    return n;
}

void CArcMcsData::GetData(CBuffer &out, int pos, int n, int all) const {
    const int limit = all ? m_data.GetLength() : UsedCount();
    const int k = pos < 0 ? 0 : std::clamp(std::min(n, limit - pos), 0, limit);
    out.SetLength(k, 0);
    if (k > 0 && out.GetLength() == k)
        std::memcpy(out.GetBuffer(), m_data.GetBuffer() + pos, static_cast<size_t>(k));
}
