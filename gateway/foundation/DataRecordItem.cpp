// CDataItem: placement, raw access and the text conversions that text
// items and groups share; the upper and alpha kinds.
#include <algorithm>
#include <cstring>
#include <string>

#include "DataRecord.h"
#include "ZelBuffer.h"
#include "logprint.h"

CZelDataException::CZelDataException(_ExceptionErrorCode code, const std::string &text)
    : std::runtime_error(text), m_nCode(code), m_strText(text) {}

CDataItem::CDataItem(const std::string &name, int type, unsigned offset, unsigned length)
    : m_strName(name), m_nType(type), m_nOffset(offset), m_nLength(length) {}

CDataItem::~CDataItem() = default;

bool CDataItem::SetIndex(unsigned) { return false; }

void CDataItem::SetMaxOccurence(unsigned n) {
    if (n == 0) {
        LOG_ASSERT(n > 0);
        return;
    }
    m_nMaxOccurence = n;
}

uint64_t CDataItem::CalculateTotalOffset() const {
    uint64_t total = m_nOffset;
    for (const CDataItem *g = m_pParent; g; g = g->m_pParent) {
        total += g->m_nOffset;
        const unsigned index = g->GetIndex();
        if (index > 1) total += static_cast<uint64_t>(g->m_nLength) * (index - 1);
    }
    return total;
}

void CDataItem::SetDefault(const char *value) {
    if (value)
        m_strDefault = value;
    else
        m_strDefault.clear();
}

int CDataItem::GetSubitemCount() const {
    int n = 0;
    for (const CDataItem *c = m_pChild; c; c = c->m_pNext) ++n;
    return n;
}

CDataItem *CDataItem::GetSubitem(int i) const {
    CDataItem *c = m_pChild;
    for (; c && i > 0; --i) c = c->m_pNext;
    return i == 0 ? c : nullptr;
}

void CDataItem::WriteRaw(CBuffer &buffer, const std::string &bytes) const {
    const uint64_t at = CalculateTotalOffset();
    const uint64_t need = at + m_nLength;
    if (need > kMaxExtent) {
        // Only a maximum occurrence raised after the record was built can
        // place an item out here; nothing that large is ever written.
        if (logCtrlFlgs & LOG_ERRORS)
            logPrintf("#DataRecord: %s at %llu is beyond the record, not written\n",
                      m_strName.c_str(), static_cast<unsigned long long>(at));
        return;
    }
    if (static_cast<uint64_t>(buffer.GetLength()) < need) {
        buffer.SetLength(static_cast<int>(need), 1);
        if (static_cast<uint64_t>(buffer.GetLength()) < need) {
            if (logCtrlFlgs & LOG_ERRORS)
                logPrintf("#DataRecord: no room for %s, not written\n", m_strName.c_str());
            return;
        }
    }
    char *p = buffer.GetBuffer() + at;
    const size_t n = std::min<size_t>(bytes.size(), m_nLength);
    std::memcpy(p, bytes.data(), n);
    std::memset(p + n, ' ', m_nLength - n);
}

std::string CDataItem::ReadRaw(const CBuffer &buffer) const {
    const uint64_t at = CalculateTotalOffset();
    const uint64_t have = static_cast<uint64_t>(std::max(buffer.GetLength(), 0));
    if (at >= have) return std::string();
    const size_t n = static_cast<size_t>(std::min<uint64_t>(m_nLength, have - at));
    return std::string(buffer.GetBuffer() + at, n);
}

void CDataItem::ReadText(std::string &out, const CBuffer &buffer) const {
    const std::string raw = ReadRaw(buffer);
    if (raw.empty() || raw[0] == '\0') {
        GetDefault(out);
        return;
    }
    out.assign(raw.data(), strnlen(raw.data(), raw.size()));   // a NUL ends the text
    out.append(m_nLength - out.size(), ' ');
}

void CDataItem::SetValue(CBuffer &buffer, const std::string &value) const {
    // "%-*.*s": up to a NUL, cut at the length; WriteRaw pads with blanks.
    WriteRaw(buffer, value.substr(0, std::min<size_t>(strnlen(value.c_str(), value.size()), m_nLength)));
}

void CDataItem::SetValue(CBuffer &buffer, unsigned value) const {
    // "%0*u", written as text: a number wider than the item keeps the
    // characters that fit, its high digits.
    std::string digits = std::to_string(value);
    if (digits.size() < m_nLength) digits.insert(0, m_nLength - digits.size(), '0');
    WriteRaw(buffer, digits);
}

void CDataItem::GetData(std::string &out, const CBuffer &buffer) const { ReadText(out, buffer); }

void CDataItem::GetDefault(std::string &out) const {
    out.assign(m_strDefault, 0, std::min<size_t>(m_strDefault.size(), m_nLength));
    out.append(m_nLength - out.size(), ' ');
}

char CDataItem::DecimalPoint() const {
    return std::use_facet<std::numpunct<char>>(m_locale).decimal_point();
}

char CDataItem::ThousandsSeparator() const {
    // A locale without grouping has no thousands separator.
    const auto &np = std::use_facet<std::numpunct<char>>(m_locale);
    return np.grouping().empty() ? 0 : np.thousands_sep();
}

char CDataItem::CurrencyChar() const {
    const std::string symbol = std::use_facet<std::moneypunct<char>>(m_locale).curr_symbol();
    return symbol.empty() ? '$' : symbol[0];
}

void CUpperItem::SetValue(CBuffer &buffer, const std::string &value) const {
    std::string upper = value;
    for (char &c : upper) c = std::toupper(c, m_locale);
    CTextItem::SetValue(buffer, upper);
}

void CAlphaItem::SetValue(CBuffer &buffer, const std::string &value) const {
    std::string letters;
    for (char c : value)
        if (std::isalpha(c, m_locale)) letters += c;
    CUpperItem::SetValue(buffer, letters);
}
