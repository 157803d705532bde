// The form-field base: set-up from a host field, ids, SFS indicator
// settings, positions and descriptor output.
#include "ArcTFDDrawableField.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "ArcMcsField.h"
#include "ArcTFDColorTable.h"
#include "ArcTFDFormat.h"
#include "ZelBuffer.h"

CArcCountId CArcTFDDrawableField::sm_CountIdSeq;

std::string CArcCountId::Id_t::ToText() const {
    char text[16];
    std::snprintf(text, sizeof text, "%" PRId32, m_nId);
    return text;
}

bool CArcCountId::Id_t::SetFromText(const std::string &text) {
    if (text.empty() || text.size() > 11 || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    m_nId = static_cast<int32_t>(v);
    return true;
}

CArcCountId::Id_t CArcCountId::Next() {
    m_Last = Id_t(m_Last.Get() == INT32_MAX ? 0 : m_Last.Get() + 1);
    return m_Last;
}

CArcTFDSFSIndicatorData::CArcTFDSFSIndicatorData(const CArcMcsRpgSfsIndicatorField &host)
    : m_nIndicator(static_cast<uint8_t>(host.GetIndicatorNumber())), m_nColor(host.GetColour()) {
    m_nFlags = static_cast<uint8_t>((host.IsModifyColour() ? ModifyColour : 0) |
                                    (host.IsSetCursorPosition() ? SetCursorPosition : 0) |
                                    (host.IsSetProtection() ? SetProtection : 0) |
                                    (host.IsDisplayOffProtect() ? DisplayOff : 0) |
                                    (host.IsBlankWhenBlank() ? BlankWhenBlank : 0) |
                                    (host.IsNotIndicator() ? NotIndicator : 0));
}

uint8_t CArcTFDSFSIndicatorData::GetIndicFlagsByte() const {
    static const uint8_t kByte[6] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04};
    uint8_t out = 0;
    for (int k = 0; k < 6; ++k)
        if (m_nFlags & (1 << k)) out |= kByte[k];
    return out;
}

CArcTFDDrawableField::CArcTFDDrawableField(const CArcMcsField *host, CArcTFDFormat *format)
    : m_pFormat(format) {
    if (!host) return;
    m_Id = sm_CountIdSeq.Next();
    m_nRow = host->GetRow() - 1;
    m_nColumn = host->GetColumn() - 1;
    m_nLength = host->GetLength();
    m_bChanged = host->IsChanged();
    m_bNumericBlankWhenBlank = host->IsNumericBlankWhenBlank();
    m_bProtected = host->IsProtected();
    m_bRuntime = host->IsRuntimeField();
    m_bTabStop = host->IsTabStop();
    m_bBlinking = host->IsBlinking();
    m_Color = CArcTFDColor(host->GetColour());
}

CArcTFDDrawableField::CArcTFDDrawableField(const CArcTFDDrawableField &o)
    : m_pFormat(o.m_pFormat), m_Id(o.m_Id), m_nRow(o.m_nRow), m_nColumn(o.m_nColumn),
      m_nLength(o.m_nLength), m_bBlinking(o.m_bBlinking), m_bChanged(o.m_bChanged),
      m_bNumericBlankWhenBlank(o.m_bNumericBlankWhenBlank), m_bRuntime(o.m_bRuntime),
      m_bTabStop(o.m_bTabStop), m_bProtected(o.m_bProtected), m_Color(o.m_Color),
      m_SFSIndData(o.m_SFSIndData), m_nCursorEndOffset(o.m_nCursorEndOffset),
      m_nHtmlType(o.m_nHtmlType) {}

std::unique_ptr<CArcTFDDrawableField> CArcTFDDrawableField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDDrawableField(*this));
}

CArcTFDColor CArcTFDDrawableField::GetDefaultColor() const {
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    return CArcTFDColor(h ? h->GetHeadingIntensity() : 2);
}

void CArcTFDDrawableField::SetText(const SafeString &text) {
    m_strText = text;
    SetLength(static_cast<int>(text.size()));
}

int CArcTFDDrawableField::SaveIntoBuffer(CBuffer &out) const {
    int n = 0;
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    if (h && h->GetSFSEmulationFormat()) {
        for (const CArcTFDSFSIndicatorData &d : m_SFSIndData) {
            const uint8_t flags = d.GetIndicFlagsByte();
            if (!flags) continue;
            out << d.GetIndicator() << static_cast<uint8_t>(0x10) << d.GetColor() << flags;
            n += 4;
        }
    }
    return n + DoSaveIntoBuffer(out);
}

int CArcTFDDrawableField::SaveContinued(CBuffer &out, int &length) {
    int n = 0;
    for (; length > 127; length -= 127, n += 3)
        out << static_cast<uint8_t>(127) << static_cast<uint8_t>(CArcMcsField::Continued) << static_cast<uint8_t>(0);
    return n;
}

const CArcTFDFormatHdrPeeker *CArcTFDDrawableField::GetFormatHdrPeeker() const {
    return m_pFormat ? m_pFormat->GetFormatHdrPeeker() : nullptr;
}

CArcTFDDrawableFieldMeta *CArcTFDDrawableField::GetFieldMetaObject() const {
    return m_pFormat ? m_pFormat->GetFieldMetaObject() : nullptr;
}

void CArcTFDDrawableField::GenerateNewId() { m_Id = sm_CountIdSeq.Next(); }

int CArcTFDDrawableField::RepositionField(int row, int column) {
    m_nRow = row;
    m_nColumn = column;
    return 1;
}

int CArcTFDDrawableField::CheckFieldPosition(int row, int column) const {
    if (!m_pFormat) return 1;
    if (row >= m_pFormat->GetScreenHeight() || column + GetLength() > m_pFormat->GetScreenWidth()) return 0;
    const CArcTFDDrawableField *next = nullptr;
    for (int i = 0; i < m_pFormat->GetFieldCount(); ++i) {
        const CArcTFDDrawableField *f = m_pFormat->GetFieldByIdx(i);
        if (f == this || f->GetRow() != row || f->GetColumn() < column) continue;
        if (!next || f->GetColumn() < next->GetColumn()) next = f;
    }
    return !next || next->GetColumn() >= column + GetLength() ? 1 : 0;
}

uint32_t CArcTFDDrawableField::GetFgRGBColor() const {
    const CArcTFDColorTable *t = m_pFormat ? m_pFormat->GetColorTable() : nullptr;
    const CArcTFDColor c = GetColor();
    return t && !c.IsUndefined() ? t->GetRgbFgColor(c.GetMcsColor()) : 0;
}

uint32_t CArcTFDDrawableField::GetBgRGBColor() const {
    const CArcTFDColorTable *t = m_pFormat ? m_pFormat->GetColorTable() : nullptr;
    const CArcTFDColor c = GetColor();
    return t && !c.IsUndefined() ? t->GetRgbBgColor(c.GetMcsColor()) : 0;
}
