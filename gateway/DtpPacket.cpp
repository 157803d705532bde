// DTP packets, their views and the checks on received packets. See
// DtpPacket.h.
#include "DtpPacket.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZelName.h"
#include "logprint.h"

namespace {

// The browser's IPv4 address from REMOTE_ADDR: exactly four dotted decimal
// numbers of at most three digits and at most 255. Anything else (unset,
// IPv6, a host name, a partial address) is no address at all.
bool ClientAddress(uint8_t octets[4]) {
    const char *s = std::getenv("REMOTE_ADDR");
    if (!s) return false;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*s != '.') return false;
            ++s;
        }
        int value = 0;
        int digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*s)) && digits < 3) {
            value = value * 10 + (*s - '0');
            ++digits;
            ++s;
        }
        if (digits == 0 || value > 255) return false;
        octets[part] = static_cast<uint8_t>(value);
    }
    return *s == '\0';
}

// Length a DezUR text takes in the packet: its bytes plus the NUL, or 0.
constexpr int kMaxDezUrText = 0xFFFF - 1;

int DezUrTextLength(const char *text, int n, const char *what) {
    if (!text || n < 1) return 0;
    if (n > kMaxDezUrText) {
        logPrintf("#DTP: DezUR %s text of %d bytes cut to %d\n", what, n, kMaxDezUrText);
        n = kMaxDezUrText;
    }
    return n + 1;
}

}  // namespace

// --- TBasePktInterface ------------------------------------------------------

TBasePktInterface::~TBasePktInterface() {
    if (m_pPacket) m_pPacket->Release();
}

void TBasePktInterface::AttachPacket(CZelDtpPacket *packet) {
    if (!packet) {
        LOG_ASSERT(packet != nullptr);
        return;
    }
    packet->AddRef();
    if (m_pPacket) m_pPacket->Release();
    m_pPacket = packet;
}

void TBasePktInterface::ReleasePacketInterface() {
    // The destructor gives the packet reference back.
    delete this;
}

void TBasePktInterface::AddPacketInterfaceRef() {
    if (m_pPacket) m_pPacket->AddRef();
}

void TBasePktInterface::TracePacketInterfaceRef(const char *file, int line) const {
    if (!(logCtrlFlgs & LOG_DETAIL)) return;
    if (m_pPacket)
        logPrintf("#DTP: DTP interface packet count is %d at %s:%d\n", m_pPacket->GetRefCount(), file, line);
    else
        logPrintf("#DTP: DTP interface packet is NULL at %s:%d\n", file, line);
}

// --- CZelDtpPacket ----------------------------------------------------------

CZelDtpPacket::~CZelDtpPacket() {
    if (m_nRefCount != 0) {
        if (logCtrlFlgs & LOG_DETAIL)
            logPrintf("#DTP: remove CZelDtpPacket [%X] of %d bytes, with the current ref count %d\n",
                      static_cast<unsigned>(reinterpret_cast<uintptr_t>(this)), GetLength(), m_nRefCount);
        LOG_ASSERT(m_nRefCount == 0);
    }
}

int CZelDtpPacket::Release() {
    const int n = --m_nRefCount;
    if (n == 0) delete this;
    return n;
}

void CZelDtpPacket::PutBytes(int pos, const void *p, int n) {
    if (pos < 0 || n < 0 || (n > 0 && !p)) {
        LOG_ASSERT(pos >= 0 && n >= 0 && (n == 0 || p));
        return;
    }
    if (n == 0) return;
    const long long end = static_cast<long long>(pos) + n;
    if (end > kMaxLength) {
        LOG_ASSERT(end <= kMaxLength);
        return;
    }
    if (end > GetLength()) {
        CBuffer zeros(static_cast<int>(end - GetLength()));
        *this += zeros;
        if (GetLength() < end) return;   // could not grow
    }
    std::memcpy(GetBuffer() + pos, p, static_cast<size_t>(n));
}

void CZelDtpPacket::PutBuffer(int pos, const CBuffer &b) {
    PutBytes(pos, b.GetBuffer(), b.GetLength());
}

void CZelDtpPacket::PutWord(int pos, uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    PutBytes(pos, b, 2);
}

void CZelDtpPacket::PutDWord(int pos, uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    PutBytes(pos, b, 4);
}

void CZelDtpPacket::PutName(int pos, const char *s, int width) {
    if (width < 1) return;
    CBuffer field;
    field.AddCobolString(s, width);
    PutBuffer(pos, field);
}

void CZelDtpPacket::PutFill(int pos, char c, int n) {
    if (n < 1) return;
    std::string fill(static_cast<size_t>(n), c);
    PutBytes(pos, fill.data(), n);
}

void CZelDtpPacket::Truncate(int n) {
    if (n >= 0 && n < GetLength()) SetEndOfBuffer(n);
}

uint8_t CZelDtpPacket::GetByte(int pos) const {
    return Has(pos, 1) ? static_cast<uint8_t>(GetBuffer()[pos]) : 0;
}

void CZelDtpPacket::GetName(int pos, CZelName &name, int n) const {
    std::string text;
    if (pos >= 0 && pos <= GetLength()) {
        CBuffer field(GetBuffer() + pos, std::min(n, GetLength() - pos));
        field.GetCobolString(text, n, 0);
    } else {
        text.assign(static_cast<size_t>(std::max(n, 0)), ' ');
    }
    name = text;
}

TBasePktInterface *CZelDtpPacket::QueryPacketInterface() {
    const int length = GetLength();
    if (length < 4) CZelPktException::Throw(CZelPktException::PacketTooShort);

    TBasePktInterface *view = nullptr;
    int minimum = 0;
    switch (GetByte(0)) {
    case kAccept: minimum = TAccept::kSize; view = new TAccept; break;
    case kReject: minimum = TReject::kSize; view = new TReject; break;
    case kClose: minimum = TClose::kSize; view = new TClose; break;
    case kProk: minimum = TProk::kSize; view = new TProk; break;
    case kPren: minimum = TPren::kSize; view = new TPren; break;
    case kMsgo: minimum = TMsgo::kSize; view = new TMsgo; break;
    case kMcso: minimum = TMcso::kSize; view = new TMcso; break;
    case kDezUrRead: minimum = TDezUrRead::kSize; view = new TDezUrRead; break;
    case kDezUrSend: minimum = TDezUrSend::kSize; view = new TDezUrSend; break;
    case kHello: minimum = THello::kSize; view = new THello; break;
    default: CZelPktException::Throw(CZelPktException::UnknownPacket);
    }
    std::unique_ptr<TBasePktInterface> guard(view);
    if (length < minimum) CZelPktException::Throw(CZelPktException::PacketTooShort);

    // Inner lengths must stay inside the body.
    switch (GetByte(0)) {
    case kPren:
        if (GetDWORD(24) > static_cast<uint32_t>(length - TPren::kSize))
            CZelPktException::Throw(CZelPktException::PacketTooShort);
        break;
    case kDezUrRead: {
        long long texts = 0;
        for (int at = 56; at < 64; at += 2) texts += GetWORD(at);
        if (texts > length - TDezUrRead::kSize) CZelPktException::Throw(CZelPktException::PacketTooShort);
        break;
    }
    case kDezUrSend: {
        const long long header = GetWORD(60);
        const long long screen = GetWORD(62);
        const long long need = TDezUrSend::kSize + header + (screen ? 1 + screen : 0);
        if (need > length) CZelPktException::Throw(CZelPktException::PacketTooShort);
        break;
    }
    default:
        break;
    }
    guard.release();
    view->AttachPacket(this);
    return view;
}

// --- TPktInterface and the shared headers -----------------------------------

uint8_t CZelDtpPacket::TPktInterface::GetType() const {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return 0;
    }
    return m_pPacket->GetByte(0);
}

template <class View, uint8_t ARG_CLASS>
void CZelDtpPacket::TSessHdr<View, ARG_CLASS>::Init(const std::string &locap, unsigned sender,
                                                     unsigned receiver) {
    CZelDtpPacket *p = this->m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    this->InitPrefix();
    p->PutDWord(4, sender);
    p->PutDWord(8, receiver);
    p->PutName(12, locap.c_str(), 8);
    uint8_t octets[4];
    if (ClientAddress(octets)) {
        const uint8_t address[8] = {' ', 0xFF, octets[0], octets[1], octets[2], octets[3], ' ', ' '};
        p->PutBytes(20, address, 8);
    } else {
        p->PutFill(20, ' ', 8);
    }
    const uint8_t tail[4] = {0x09, 0x00, 24, 80};
    p->PutBytes(28, tail, 4);
}

template <class View, uint8_t ARG_CLASS>
unsigned CZelDtpPacket::TSessHdr<View, ARG_CLASS>::GetSenderId() const {
    return this->m_pPacket ? this->m_pPacket->GetDWORD(4) : 0;
}

template <class View, uint8_t ARG_CLASS>
unsigned CZelDtpPacket::TSessHdr<View, ARG_CLASS>::GetReceiverId() const {
    return this->m_pPacket ? this->m_pPacket->GetDWORD(8) : 0;
}

template <class View, uint8_t ARG_CLASS>
unsigned CZelDtpPacket::TDezUrHdr<View, ARG_CLASS>::GetReceiverId() const {
    return this->m_pPacket ? this->m_pPacket->GetDWORD(4) : 0;
}

template <class View, uint8_t ARG_CLASS>
void CZelDtpPacket::TDezUrHdr<View, ARG_CLASS>::GetGroup(CZelName &group) const {
    if (this->m_pPacket) this->m_pPacket->GetName(24, group, kGroupWidth);
}

template <class View, uint8_t ARG_CLASS>
void CZelDtpPacket::TDezUrHdr<View, ARG_CLASS>::GetForm(CZelName &form) const {
    // The name's own size, but never past the form field.
    const int n = std::min(static_cast<int>(form.GetSize()), kFormWidth);
    if (this->m_pPacket) this->m_pPacket->GetName(32, form, n);
}

template class CZelDtpPacket::TSessHdr<CZelDtpPacket::TOpen, CZelDtpPacket::kOpen>;
template class CZelDtpPacket::TSessHdr<CZelDtpPacket::TAccept, CZelDtpPacket::kAccept>;
template class CZelDtpPacket::TSessHdr<CZelDtpPacket::TReject, CZelDtpPacket::kReject>;
template class CZelDtpPacket::TSessHdr<CZelDtpPacket::TClose, CZelDtpPacket::kClose>;
template class CZelDtpPacket::TDezUrHdr<CZelDtpPacket::TDezUrRead, CZelDtpPacket::kDezUrRead>;
template class CZelDtpPacket::TDezUrHdr<CZelDtpPacket::TDezUrSend, CZelDtpPacket::kDezUrSend>;

// --- HelloDTP ---------------------------------------------------------------

void CZelDtpPacket::THello::Init(const std::string &locap, unsigned, unsigned) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    m_pPacket->Truncate(0);
    LoadMagic();
    m_pPacket->PutWord(4, kVersion);
    m_pPacket->PutByte(6, 'W');
    m_pPacket->PutByte(7, 0);
    m_pPacket->PutName(8, locap.c_str(), 8);
}

void CZelDtpPacket::THello::LoadMagic() {
    if (m_pPacket) m_pPacket->PutBytes(0, "tDTP", 4);
}

void CZelDtpPacket::THello::GetLocap(CZelName &locap) const {
    if (m_pPacket) m_pPacket->GetName(8, locap, 8);
}

uint8_t CZelDtpPacket::TReject::GetReason() const {
    return m_pPacket ? m_pPacket->GetByte(29) : 0;
}

// --- PRST -------------------------------------------------------------------

void CZelDtpPacket::TPrst::Init(const std::string &, unsigned, unsigned receiver) {
    CZelDtpPacket *p = m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    LOG_ASSERT(p->GetLength() >= kSize);
    InitPrefix();
    p->PutFill(4, ' ', 64);                 // 4 to 67; 68 is set below
    p->PutDWord(4, receiver);
    const uint8_t terminal[3] = {0x03, 0x01, 0x00};
    p->PutBytes(21, terminal, 3);
    p->PutWord(64, 24);
    p->PutWord(66, 80);
    p->PutByte(68, 14);
    p->PutByte(71, 0);
    p->PutFill(72, '\0', 8);
    p->PutFill(84, '\0', 8);
}

void CZelDtpPacket::TPrst::SetUser(const std::string &unixUserId, const std::string &userId,
                                   uint8_t f1, uint8_t f2, uint8_t f3, uint8_t f4) {
    CZelDtpPacket *p = m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    uint8_t octets[4];
    if (ClientAddress(octets)) p->PutBytes(8, octets, 4);

    // The Unix user id: at most 8 characters, then NULs up to 20; a longer
    // id leaves 20 as it was (a blank).
    const size_t n = std::min<size_t>(strnlen(unixUserId.c_str(), 9), 9);
    const int chars = static_cast<int>(std::min<size_t>(n, 8));
    if (chars) p->PutBytes(12, unixUserId.data(), chars);
    if (n <= 8) p->PutFill(12 + chars, '\0', 9 - chars);

    p->PutName(24, userId.c_str(), 8);
    const uint8_t flags[4] = {f1, f2, f3, f4};
    p->PutBytes(60, flags, 4);
}

void CZelDtpPacket::TPrst::SetTransaction(const std::string &trid, const std::string &cda) {
    CZelDtpPacket *p = m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    p->PutName(96, trid.c_str(), 8);
    p->PutDWord(104, static_cast<uint32_t>(cda.size()));
    if (!cda.empty()) p->PutBytes(108, cda.data(), static_cast<int>(cda.size()));
}

void CZelDtpPacket::TPrst::SetPidValue(int n) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    char text[16];
    std::snprintf(text, sizeof text, "#%07d", n);
    m_pPacket->PutName(36, text, 8);
}

// --- PREN -------------------------------------------------------------------

void CZelDtpPacket::TPren::Init(const std::string &, unsigned, unsigned receiver) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    InitPrefix();
    m_pPacket->PutDWord(4, receiver);
    m_pPacket->PutFill(20, ' ', 2);
    m_pPacket->PutDWord(24, 0);
}

unsigned CZelDtpPacket::TPren::GetReceiverId() const {
    return m_pPacket ? m_pPacket->GetDWORD(4) : 0;
}

char CZelDtpPacket::TPren::GetReason() const {
    return m_pPacket ? static_cast<char>(m_pPacket->GetByte(20)) : 0;
}

unsigned CZelDtpPacket::TPren::GetCdaSize() const {
    return m_pPacket ? m_pPacket->GetDWORD(24) : 0;
}

int CZelDtpPacket::TPren::GetCda(CBuffer &out) const {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return 1;
    }
    const uint32_t n = GetCdaSize();
    if (n == 0) return 1;
    if (n > static_cast<uint32_t>(std::max(m_pPacket->GetLength() - kSize, 0)))
        CZelPktException::Throw(CZelPktException::PacketTooShort);
    out.AddChars(m_pPacket->GetBuffer() + kSize, static_cast<int>(n));
    return 1;
}

void CZelDtpPacket::TPren::SetReason(char reason) {
    if (m_pPacket) m_pPacket->PutByte(20, static_cast<uint8_t>(reason));
}

// --- MCSO -------------------------------------------------------------------

void CZelDtpPacket::TMcso::Init(const std::string &, unsigned, unsigned receiver) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    InitPrefix();
    m_pPacket->PutDWord(4, receiver);
    m_pPacket->PutFill(8, ' ', 12);
    m_pPacket->PutDWord(20, 0);
    // Placeholder start of the MCS sub-packet, overwritten by its Init.
    const uint8_t start[4] = {' ', 0, 0, 0};
    m_pPacket->PutBytes(24, start, 4);
}

unsigned CZelDtpPacket::TMcso::GetReceiverId() const {
    return m_pPacket ? m_pPacket->GetDWORD(4) : 0;
}

void CZelDtpPacket::TMcso::OffsetToQorBuffer() {
    if (m_pPacket) m_pPacket->SetOffset(kHeaderLength);
}

char CZelDtpPacket::TMcso::GetMcsFunction(int index) {
    static const char letters[] = "OVIEAYLMRT01F";
    return index >= 1 && index <= 13 ? letters[index - 1] : '?';
}

// --- DezUR ------------------------------------------------------------------

void CZelDtpPacket::TDezUrRead::Init(const std::string &, unsigned, unsigned receiver) {
    CZelDtpPacket *p = m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    InitPrefix();
    p->PutDWord(4, receiver);
    p->PutFill(8, ' ', 8);
    p->PutDWord(16, 0);
    const uint8_t mark[4] = {' ', 0, 0, 0};
    p->PutBytes(20, mark, 4);
    p->PutFill(24, ' ', kGroupWidth);
    p->PutFill(32, ' ', kFormWidth);
    p->PutFill(56, '\0', 8);
}

void CZelDtpPacket::TDezUrRead::SetGroup(const CZelName &group) {
    if (m_pPacket) m_pPacket->PutName(24, group.GetData(), kGroupWidth);
}

void CZelDtpPacket::TDezUrRead::SetForm(const CZelName &form) {
    if (m_pPacket) m_pPacket->PutName(32, form.GetData(), kFormWidth);
}

void CZelDtpPacket::TDezUrRead::SetValues(const char *first, const char *second, const char *third,
                                          const char *data, int dataLength) {
    CZelDtpPacket *p = m_pPacket;
    if (!p) {
        LOG_ASSERT(p != nullptr);
        return;
    }
    auto textLen = [](const char *s) {
        return s ? static_cast<int>(strnlen(s, static_cast<size_t>(kMaxDezUrText) + 1)) : 0;
    };
    struct Text {
        const char *bytes;
        int length;   // with the NUL; 0 when absent
    };
    const Text texts[4] = {
        {second, DezUrTextLength(second, textLen(second), "second")},
        {first, DezUrTextLength(first, textLen(first), "first")},
        {third, DezUrTextLength(third, textLen(third), "third")},
        {data, DezUrTextLength(data, dataLength, "data")},
    };
    // The texts replace whatever followed the fixed part.
    p->Truncate(kSize);
    int pos = kSize;
    for (int i = 0; i < 4; ++i) {
        p->PutWord(56 + 2 * i, static_cast<uint16_t>(texts[i].length));
        if (texts[i].length == 0) continue;
        p->PutBytes(pos, texts[i].bytes, texts[i].length - 1);
        p->PutByte(pos + texts[i].length - 1, 0);
        pos += texts[i].length;
    }
}

unsigned CZelDtpPacket::TDezUrSend::GetHeaderTextLength() const {
    return m_pPacket ? m_pPacket->GetWORD(60) : 0;
}

unsigned CZelDtpPacket::TDezUrSend::GetScreenTextLength() const {
    return m_pPacket ? m_pPacket->GetWORD(62) : 0;
}

void CZelDtpPacket::TDezUrSend::GetHeaderText(std::string &text) const {
    text.clear();
    if (!m_pPacket) return;
    const int n = static_cast<int>(GetHeaderTextLength());
    if (!m_pPacket->Has(kSize, n)) CZelPktException::Throw(CZelPktException::PacketTooShort);
    text.assign(m_pPacket->GetBuffer() + kSize, static_cast<size_t>(n));
}

void CZelDtpPacket::TDezUrSend::GetScreenText(std::string &text) const {
    text.clear();
    if (!m_pPacket) return;
    const int n = static_cast<int>(GetScreenTextLength());
    if (n == 0) return;
    const int at = kSize + static_cast<int>(GetHeaderTextLength()) + 1;
    if (!m_pPacket->Has(at, n)) CZelPktException::Throw(CZelPktException::PacketTooShort);
    text.assign(m_pPacket->GetBuffer() + at, static_cast<size_t>(n));
}
