// Security fields: the level text and its parser.
#include "ArcTFDSecurityField.h"

#include <cstdio>

#include "ArcMcsField.h"
#include "ArcMcsFormatHdr.h"
#include "ZelBuffer.h"

CArcTFDSecurityField::CArcTFDSecurityField(const CArcMcsField *host, CArcTFDFormat *format)
    : CArcTFDHeadingTextField(host, format, SafeString()) {
    if (host) {
        m_nLevel = host->GetSecurityLevel();
        m_bMustBeEqual = host->GetExactSecurity() ? 1 : 0;
    }
    Rebuild();
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDSecurityField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDSecurityField(*this));
}

CArcTFDColor CArcTFDSecurityField::GetColor() const {
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    return CArcTFDColor(h ? h->GetHeadingIntensity() : 1);
}

void CArcTFDSecurityField::SetSecurityLevel(int level) {
    m_nLevel = level;
    Rebuild();
}

void CArcTFDSecurityField::SetMustBeEqual(int on) {
    m_bMustBeEqual = on ? 1 : 0;
    Rebuild();
}

void CArcTFDSecurityField::SetText(const SafeString &text) {
    ParseSecurityText(text, &m_nLevel, &m_bMustBeEqual);
    Rebuild();
}

void CArcTFDSecurityField::Rebuild() {
    char text[16];
    if (m_nLevel >= 0 && m_nLevel < kNoLevel)
        std::snprintf(text, sizeof text, "$%c%d", m_bMustBeEqual ? '=' : '<', m_nLevel);
    else
        std::snprintf(text, sizeof text, "$>");
    CArcTFDHeadingTextField::SetText(text);
}

int CArcTFDSecurityField::ParseSecurityText(const SafeString &text, int *level, int *mustBeEqual) {
    if (text.size() >= 2 && text[0] == '$' && text[1] == '>') {
        if (level) *level = kNoLevel;
        if (mustBeEqual) *mustBeEqual = 0;
        return 1;
    }
    if (text.size() <= 2 || text[0] != '$' || (text[1] != '<' && text[1] != '=')) return 0;
    // Only decimal digits, and the value must stay below 256.
    int value = 0;
    for (size_t k = 2; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
        if (value > kNoLevel) return 0;
    }
    if (level) *level = value;
    if (mustBeEqual) *mustBeEqual = text[1] == '=' ? 1 : 0;
    return 1;
}

int CArcTFDSecurityField::DoSaveIntoBuffer(CBuffer &out) const {
    out << static_cast<uint8_t>(GetLength())
        << static_cast<uint8_t>((m_bMustBeEqual ? 0x3E : 0x1E) | (IsProtected() ? 0x80 : 0))
        << static_cast<uint8_t>(m_nLevel);
    return 3;
}
