// MCS message views over the sub-packet of an MCSO packet. See
// McsInterface.h.
#include "McsInterface.h"

#include <cstring>
#include <memory>

#include "ArcMcsData.h"
#include "ArcSnapShot.h"
#include "ZelName.h"
#include "logprint.h"

namespace {

constexpr long kMaxWord = 0xFFFF;

[[noreturn]] void ThrowInvalidSubPacket() {
    CZelPktException::Throw(CZelPktException::InvalidQorBufferSubpacket);
}

// Bytes a parameter value takes: fixed for the number types.
int ParamValueLength(int type, int lengthField) {
    switch (type) {
    case TMcsInterface::kParamByte: return 1;
    case TMcsInterface::kParamShort: return 2;
    case TMcsInterface::kParamInt: return 4;
    case TMcsInterface::kParamString: return lengthField;
    default:
        LOG_ASSERT(type <= TMcsInterface::kParamString);
        return lengthField;
    }
}

}  // namespace

// --- making the views ---------------------------------------------------

TMcsInterface *CZelDtpPacket::TMcso::CreateMcsInterface(char function) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return nullptr;
    }
    std::unique_ptr<TMcsInterface> view;
    switch (function) {
    case 'F': view.reset(new TQorScrFmt(1)); break;
    case 'I': view.reset(new TQorMsgi); break;
    default: CZelPktException::Throw(CZelPktException::UnknownPacket);
    }
    view->SetHeaderLength(kHeaderLength);
    view->AttachPacket(m_pPacket);
    return view.release();
}

TMcsInterface *CZelDtpPacket::TMcso::QueryMcsInterface() {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return nullptr;
    }
    const CZelDtpPacket &p = *m_pPacket;
    if (!p.Has(0, kHeaderLength + TMcsInterface::kParamsAt)) {
        if (logCtrlFlgs & LOG_DETAIL)
            logPrintf("#Throw invalidQorBufferSubpacket: MCSO of %d bytes\n", p.GetLength());
        ThrowInvalidSubPacket();
    }
    const uint16_t type = p.GetWORD(kHeaderLength + TMcsInterface::kTypeAt);
    const uint16_t index = p.GetWORD(kHeaderLength + TMcsInterface::kIndexAt);
    const uint16_t count = p.GetWORD(kHeaderLength + TMcsInterface::kCountAt);

    std::unique_ptr<TMcsInterface> view;
    if (type == TMcsInterface::kProgramMessage) {
        const char letter = GetMcsFunction(index);
        switch (letter) {
        case 'F': view.reset(new TQorFree(count)); break;
        case 'O':
        case 'V':
        case 'E': view.reset(new TQorMsgo(letter, count)); break;
        default:
            if (logCtrlFlgs & LOG_DETAIL)
                logPrintf("#Throw invalidQorBufferSubpacket for MCS-FUNCTION '%c' on %d\n", letter, index);
            ThrowInvalidSubPacket();
        }
    } else if (type == TMcsInterface::kFormatReply) {
        view.reset(new TQorScrFmt(count));
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Got fmtReply\n");
    } else {
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("# Throw invalidQorBufferSubpacket on function\n");
        ThrowInvalidSubPacket();
    }
    TMcsInterface::CheckParams(p, kHeaderLength, count);
    view->SetHeaderLength(kHeaderLength);
    view->AttachPacket(m_pPacket);
    return view.release();
}

// --- TMcsInterface ------------------------------------------------------

void TMcsInterface::CheckParams(const CZelDtpPacket &packet, int headerLength, unsigned count) {
    int pos = headerLength + kParamsAt;
    if (!packet.Has(0, pos)) ThrowInvalidSubPacket();
    for (unsigned i = 0; i < count; ++i) {
        if (!packet.Has(pos, 4)) {
            if (logCtrlFlgs & LOG_DETAIL)
                logPrintf("#Throw invalidQorBufferSubpacket: parameter %u of %u past the end\n", i, count);
            ThrowInvalidSubPacket();
        }
        const int length = ParamValueLength(packet.GetWORD(pos + 2), packet.GetWORD(pos));
        if (!packet.Has(pos + 4, length)) {
            if (logCtrlFlgs & LOG_DETAIL)
                logPrintf("#Throw invalidQorBufferSubpacket: parameter %u of %u past the end\n", i, count);
            ThrowInvalidSubPacket();
        }
        pos += 4 + length;
    }
}

void TMcsInterface::SetIds(const unsigned ids[4]) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    for (int i = 0; i < 4; ++i) m_pPacket->PutDWord(m_nHeaderLength + kIdsAt + 4 * i, ids[i]);
}

void TMcsInterface::GetIds(unsigned ids[4]) const {
    for (int i = 0; i < 4; ++i) {
        const int at = m_nHeaderLength + kIdsAt + 4 * i;
        ids[i] = m_pPacket && m_pPacket->Has(at, 4) ? m_pPacket->GetDWORD(at) : 0;
    }
}

void TMcsInterface::GetNextParamInfo(int pos, int &length, int &type) const {
    if (!m_pPacket->Has(pos, 4)) ThrowInvalidSubPacket();
    type = m_pPacket->GetWORD(pos + 2);
    length = ParamValueLength(type, m_pPacket->GetWORD(pos));
    if (!m_pPacket->Has(pos + 4, length)) ThrowInvalidSubPacket();
}

int TMcsInterface::GetParamInfo(int index, int &length, int &type, int &offset) const {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return 0;
    }
    if (index < 0 || index >= m_nParamCount) {
        logPrintf("#GetParamInfo: index %d ParamCount %d\n", index, m_nParamCount);
        return 0;
    }
    try {
        int pos = m_nHeaderLength + kParamsAt;
        for (int i = 0;; ++i) {
            GetNextParamInfo(pos, length, type);
            if (i == index) {
                offset = pos + 4;
                return 1;
            }
            pos += 4 + length;
        }
    } catch (CZelPktException *) {
        logPrintf("#GetParamInfo: index %d ParamCount %d threw execption\n", index, m_nParamCount);
        throw;
    }
}

bool TMcsInterface::CopyParam(int index, CBuffer &out) const {
    int length = 0, type = 0, offset = 0;
    if (!GetParamInfo(index, length, type, offset)) return false;
    if (length > 0) out.AddChars(m_pPacket->GetBuffer() + offset, length);
    return true;
}

void TMcsInterface::InitSubPacket(const unsigned ids[4], uint16_t type, uint16_t index) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    SetIds(ids);
    m_pPacket->PutWord(m_nHeaderLength + kTypeAt, type);
    m_pPacket->PutWord(m_nHeaderLength + kIndexAt, index);
    m_pPacket->PutWord(m_nHeaderLength + kCountAt, 0);
    m_pPacket->PutWord(m_nHeaderLength + kBytesAt, 0);
    m_pPacket->Truncate(m_nHeaderLength + kParamsAt);
    m_nParamCount = 0;
}

void TMcsInterface::UpdateParams(int valueLength) {
    const int bytes = m_pPacket->GetWORD(m_nHeaderLength + kBytesAt) + valueLength + 4;
    ++m_nParamCount;
    m_pPacket->PutWord(m_nHeaderLength + kCountAt, m_nParamCount);
    m_pPacket->PutWord(m_nHeaderLength + kBytesAt, static_cast<uint16_t>(bytes));
}

void TMcsInterface::AppendParam(uint16_t type, const char *value, int length) {
    if (!m_pPacket) {
        LOG_ASSERT(m_pPacket != nullptr);
        return;
    }
    // Both the value length and the parameter-byte sum are 16-bit words.
    if (!m_pPacket->Has(0, m_nHeaderLength + kParamsAt)) ThrowInvalidSubPacket();
    const long sum = static_cast<long>(m_pPacket->GetWORD(m_nHeaderLength + kBytesAt)) + length + 4;
    if (length < 0 || length > kMaxWord || sum > kMaxWord || m_nParamCount == kMaxWord) {
        logPrintf("#DTP: MCS parameter of %d bytes does not fit the message\n", length);
        ThrowInvalidSubPacket();
    }
    const int pos = m_pPacket->GetLength();
    m_pPacket->PutWord(pos, static_cast<uint16_t>(length));
    m_pPacket->PutWord(pos + 2, type);
    if (length > 0) m_pPacket->PutBytes(pos + 4, value, length);
    UpdateParams(length);
}

void TMcsInterface::AddParam(int value) {
    const uint8_t b[4] = {static_cast<uint8_t>(static_cast<uint32_t>(value) >> 24),
                          static_cast<uint8_t>(static_cast<uint32_t>(value) >> 16),
                          static_cast<uint8_t>(static_cast<uint32_t>(value) >> 8),
                          static_cast<uint8_t>(value)};
    AppendParam(kParamInt, reinterpret_cast<const char *>(b), 4);
}

void TMcsInterface::AddParam(short value) {
    const uint8_t b[2] = {static_cast<uint8_t>(static_cast<uint16_t>(value) >> 8),
                          static_cast<uint8_t>(value)};
    AppendParam(kParamShort, reinterpret_cast<const char *>(b), 2);
}

void TMcsInterface::AddParam(const std::string &value) {
    if (value.size() > static_cast<size_t>(kMaxWord)) ThrowInvalidSubPacket();
    AppendParam(kParamString, value.data(), static_cast<int>(value.size()));
}

void TMcsInterface::AddParam(const CBuffer &value) {
    AppendParam(kParamString, value.GetBuffer(), value.GetLength());
}

void TMcsInterface::AddParam(const CArcMcsData &mcsData) {
    CBuffer stored;
    mcsData.StoreInBuffer(stored);
    AddParam(stored);
}

void TMcsInterface::AddParam(const CArcSnapShot &snapshot) {
    CBuffer stored;
    snapshot.StoreInBuffer(stored);
    AddParam(stored);
}

// --- screen input -----------------------------------------------------------

void TQorMsgi::Init(const CArcSnapShot &snapshot, const CArcMcsData &mcsData, int id0, int id1,
                    int id2, int id3) {
    const unsigned ids[4] = {static_cast<unsigned>(id0), static_cast<unsigned>(id1),
                             static_cast<unsigned>(id2), static_cast<unsigned>(id3)};
    InitSubPacket(ids, kScreenInput, 3);
    AddParam(snapshot);
    AddParam(mcsData);
}

void TQorMsgi::Init(const CBuffer &pib, const CBuffer &mcsData, int id0, int id1, int id2, int id3) {
    const unsigned ids[4] = {static_cast<unsigned>(id0), static_cast<unsigned>(id1),
                             static_cast<unsigned>(id2), static_cast<unsigned>(id3)};
    InitSubPacket(ids, kScreenInput, 3);
    AddParam(pib);
    AddParam(mcsData);
}

// --- screen format ----------------------------------------------------------

void TQorScrFmt::Init(const CArcSnapShot &, const CArcMcsData &mcsData, int id0, int id1, int id2,
                      int id3) {
    const CZelName name(mcsData.GetName(), CArcMcsHdr::kNameWidth);
    Init(name, id0, id1, id2, id3);
}

void TQorScrFmt::Init(const CZelName &name, int id0, int id1, int id2, int id3) {
    const unsigned ids[4] = {static_cast<unsigned>(id0), static_cast<unsigned>(id1),
                             static_cast<unsigned>(id2), static_cast<unsigned>(id3)};
    InitSubPacket(ids, kFormatRequest, 0);
    AppendParam(kParamString, name.GetData(), static_cast<int>(name.GetSize()));
}

int TQorScrFmt::GetName(std::string &name) const {
    name.clear();
    CBuffer value;
    if (!CopyParam(0, value)) return 0;
    name.assign(value.GetBuffer(), static_cast<size_t>(value.GetLength()));
    return 1;
}

void TQorScrFmt::GetRecordText(int at, int n, std::string &out) const {
    out.clear();
    CBuffer record;
    if (!CopyParam(1, record) || record.GetLength() < at + n) return;
    record.SetOffset(at);
    record.GetCobolString(out, n, 0);
}

int TQorScrFmt::GetFormatType() const {
    CBuffer record;
    if (!CopyParam(1, record) || record.GetLength() < 1) return 0;
    return static_cast<uint8_t>(record.GetBuffer()[0]);
}

void TQorScrFmt::GetFormatGroup(std::string &group) const { GetRecordText(1, 8, group); }

void TQorScrFmt::GetFormatName(std::string &name) const { GetRecordText(9, 8, name); }

void TQorScrFmt::GetFormatDescription(std::string &description) const {
    GetRecordText(28, 40, description);
}

void TQorScrFmt::GetFormatDate(CTime &date) const {
    CBuffer record;
    if (!CopyParam(1, record) || record.GetLength() < 26) {
        date.SetTime(0, 0, 0, 0, 0, 0);
        return;
    }
    const auto *b = reinterpret_cast<const uint8_t *>(record.GetBuffer());
    date.SetTime(1970 + b[20], b[21] & 0x0F, b[22] & 0x1F, b[23] & 0x1F, b[24] & 0x3F, b[25] & 0x3F);
}

int TQorScrFmt::GetFormatOffset(int &offset, unsigned short &length) const {
    offset = 0;
    length = 0;
    int valueLength = 0, type = 0, valueOffset = 0;
    if (!GetParamInfo(1, valueLength, type, valueOffset)) return 0;
    if (valueLength < kRecordLength) {
        logPrintf("#DTP: screen format record of %d bytes is too short\n", valueLength);
        return 0;
    }
    offset = valueOffset + kRecordLength;
    length = static_cast<unsigned short>(valueLength - kRecordLength);
    return 1;
}

unsigned short TQorScrFmt::GetFormatLength() const {
    int offset = 0;
    unsigned short length = 0;
    GetFormatOffset(offset, length);
    return length;
}

// --- program message --------------------------------------------------------

int TQorMsgo::GetSnapShot(CArcSnapShot &snapshot) const {
    CBuffer value;
    if (!CopyParam(0, value)) return 0;
    if (value.GetLength() < kShortPib) {
        logPrintf("#DTP: PIB of %d bytes is too short\n", value.GetLength());
        ThrowInvalidSubPacket();
    }
    if (value.GetLength() > kShortPib) CArcSnapShot::SetExtendedMode(true);
    snapshot.LoadFromBuffer(value, value.GetLength());
    return 1;
}

int TQorMsgo::GetSnapShot(CBuffer &out) const { return CopyParam(0, out) ? 1 : 0; }

int TQorMsgo::GetMcsData(CArcMcsData &mcsData) const {
    CBuffer value;
    if (!CopyParam(1, value)) return 0;
    mcsData.LoadFromBuffer(value, value.GetLength());
    return 1;
}

int TQorMsgo::GetMcsData(CBuffer &out) const { return CopyParam(1, out) ? 1 : 0; }

int TQorMsgo::GetFccMods(CBuffer &out) const { return CopyParam(2, out) ? 1 : 0; }

int TQorMsgo::GetCursorModIndex(int &index) const {
    index = -1;
    CBuffer value;
    if (!CopyParam(3, value)) return 0;
    if (value.GetLength() > 0) {
        const void *star = std::memchr(value.GetBuffer(), '*', static_cast<size_t>(value.GetLength()));
        if (star) index = static_cast<int>(static_cast<const char *>(star) - value.GetBuffer());
    }
    return 1;
}

int TQorMsgo::GetErrorText(std::string &text) const {
    text.clear();
    CBuffer value;
    if (!CopyParam(4, value)) return 0;
    value.GetCobolString(text, value.GetLength(), 0);
    return 1;
}
