// The PIB snapshot: wire form to object and back. See ArcSnapShot.h.
#include "ArcSnapShot.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <string>

#include "ZelBuffer.h"
#include "logprint.h"

int CArcSnapShot::m_nLen = CArcSnapShot::kExtendedLength;

namespace {

constexpr int kShortZeros = 15;       // at 58, behind the byte at 57
constexpr int kClosingZeros = 16;      // behind either form
constexpr int kFixedPart = 112;        // bytes common to both forms

template <size_t N>
void ReadBytes(CBuffer &b, uint8_t (&out)[N]) {
    for (auto &x : out) b >> x;
}

template <size_t N>
void ReadChars(CBuffer &b, char (&out)[N]) {
    for (auto &x : out) b >> x;
}

template <size_t N>
void ReadShorts(CBuffer &b, int16_t (&out)[N]) {
    for (auto &x : out) b >> x;
}

template <size_t N>
void WriteBytes(CBuffer &b, const uint8_t (&in)[N]) {
    b.AddChars(reinterpret_cast<const char *>(in), static_cast<int>(N));
}

void WriteZeros(CBuffer &b, int n) {
    CBuffer zeros(n);
    b += zeros;
}

// One two-digit number of the date text: "dd" or " d".
bool TwoDigits(const char *p, int &value) {
    if (!std::isdigit(static_cast<unsigned char>(p[1]))) return false;
    if (p[0] == ' ')
        value = p[1] - '0';
    else if (std::isdigit(static_cast<unsigned char>(p[0])))
        value = (p[0] - '0') * 10 + (p[1] - '0');
    else
        return false;
    return true;
}

}  // namespace

CArcSnapShot::CArcSnapShot() {
    std::memset(m_abHead, 0, sizeof m_abHead);
    Initialize();
}

void CArcSnapShot::Initialize() {
    m_strTrid = "";
    m_strText16 = "";
    m_strText20 = "";
    m_nInt28 = 0x00FFFFFF;
    m_nInt32 = 0;
    m_sInt36 = 0;
    m_sInt38 = 0;
    std::memset(m_abBytes40, 0, sizeof m_abBytes40);
    m_bByte47 = 1;
    m_bByte48 = 0;
    m_bByte49 = 0;
    m_cChar50 = 0;
    std::memset(m_abBytes51, 0, sizeof m_abBytes51);
    std::memset(m_acChars54, 0, sizeof m_acChars54);
    m_bByte57 = 0;
    std::fill(std::begin(m_asPairs73), std::end(m_asPairs73), 0);
    m_cChar85 = 0;
    std::fill(std::begin(m_asInts86), std::end(m_asInts86), 0);
    m_strText90 = "";
    m_cChar98 = 0;
    std::memset(m_abBytes99, 0, sizeof m_abBytes99);
    m_cChar108 = 0;
    std::memset(m_abBytes109, 0, sizeof m_abBytes109);
    m_strText112 = "";
    m_strText120 = "";
    static_cast<CZelName &>(m_date) = "";
}

void CArcSnapShot::StoreInBuffer(CBuffer &b) const {
    WriteBytes(b, m_abHead);
    b << m_strTrid << m_strText16 << m_strText20;
    b << m_nInt28 << m_nInt32 << m_sInt36 << m_sInt38;
    WriteBytes(b, m_abBytes40);
    b << m_bByte47 << m_bByte48 << m_bByte49 << m_cChar50;
    WriteBytes(b, m_abBytes51);
    b.AddChars(m_acChars54, 3);
    b << m_bByte57;
    WriteZeros(b, kShortZeros);
    for (int16_t v : m_asPairs73) b << v;
    b << m_cChar85;
    for (int16_t v : m_asInts86) b << v;
    b << m_strText90 << m_cChar98;
    WriteBytes(b, m_abBytes99);
    b << m_cChar108;
    WriteBytes(b, m_abBytes109);
    if (m_nLen == kExtendedLength) b << m_strText112 << m_strText120 << m_date;
    WriteZeros(b, kClosingZeros);
}

void CArcSnapShot::LoadFromBuffer(CBuffer &buffer, int length) {
    LOG_ASSERT(length >= kShortLength);
    const int form = length < kExtendedLength ? kShortLength : kExtendedLength;

    // Work on a copy of exactly one form, so that a short buffer neither
    // reads past its end nor grows; missing bytes read as zero.
    const int available = std::clamp(buffer.GetLength(), 0, form);
    CBuffer b(form);
    if (available > 0) std::memcpy(b.GetBuffer(), buffer.GetBuffer(), static_cast<size_t>(available));
    buffer.SetOffset(available);

    ReadBytes(b, m_abHead);
    b >> m_strTrid >> m_strText16 >> m_strText20;
    b >> m_nInt28 >> m_nInt32 >> m_sInt36 >> m_sInt38;
    ReadBytes(b, m_abBytes40);
    b >> m_bByte47 >> m_bByte48 >> m_bByte49 >> m_cChar50;
    if (m_bByte47 == 0) m_bByte47 = 1;
    ReadBytes(b, m_abBytes51);
    ReadChars(b, m_acChars54);
    b >> m_bByte57;
    b.SetOffset(kShortZeros);
    ReadShorts(b, m_asPairs73);
    b >> m_cChar85;
    ReadShorts(b, m_asInts86);
    b >> m_strText90 >> m_cChar98;
    ReadBytes(b, m_abBytes99);
    b >> m_cChar108;
    ReadBytes(b, m_abBytes109);
    LOG_ASSERT(b.GetOffset() == kFixedPart);

    if (form == kShortLength) {
        m_nLen = kShortLength;
        m_strText112 = "";
        m_strText120 = "";
        return;
    }
    m_nLen = kExtendedLength;
    b >> m_strText112 >> m_strText120;
    std::string text;
    b.GetCobolString(text, CTime::kTimeSize, 1);
    int v[6];
    bool ok = text.size() == static_cast<size_t>(CTime::kTimeSize);
    for (int i = 0; ok && i < 6; ++i) ok = TwoDigits(text.data() + 2 * i, v[i]);
    if (ok) {
        int year = v[0] < 70 ? 2000 + v[0] : 1900 + v[0];
        year = std::max(year, 1970);
        m_date.SetTime(year, std::max(v[1], 1), std::max(v[2], 1), v[3], v[4], v[5]);
    } else {
        m_date = CTime::GetCurrentTime();
    }
}
