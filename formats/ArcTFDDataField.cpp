// Data, numeric and error fields.
#include "ArcTFDDataField.h"

#include <cstring>

#include "ArcMcsField.h"
#include "ArcMcsFormatHdr.h"
#include "ArcTFDFormat.h"
#include "ZelBuffer.h"

namespace {

// Upper-case alpha fields outside colour formats show their colour as a
// letter: the letters for colours 0 to 8 (2 has none: "U").
const char kColorLetters[] = "SOULBRFGH";

bool IsColorFormat(const CArcTFDDrawableField &f) {
    const CArcTFDFormatHdrPeeker *h = f.GetFormatHdrPeeker();
    return h && h->GetColorFormat();
}

// The single letter a text repeats, 'A' for an empty text, 0 when the text
// is not one letter repeated.
char RepeatedLetter(const SafeString &text) {
    if (text.empty()) return 'A';
    const char c = static_cast<char>(text[0] >= 'a' && text[0] <= 'z' ? text[0] - 'a' + 'A' : text[0]);
    for (char t : text) {
        const char u = static_cast<char>(t >= 'a' && t <= 'z' ? t - 'a' + 'A' : t);
        if (u != c) return 0;
    }
    return c >= 'A' && c <= 'Z' ? c : 0;
}

}  // namespace

CArcTFDDataErrorField::CArcTFDDataErrorField(const CArcMcsField *host, CArcTFDFormat *format, Type_t type,
                                             int color, const SafeString &defaultText)
    : CArcTFDDrawableField(host, format), m_eType(type), m_strDefaultText(defaultText) {
    if (host) {
        if (const auto *data = dynamic_cast<const CArcMcsDataField *>(host)) {
            m_bInputOnly = data->IsInputOnly();
            m_nIndex = data->GetFieldIndex();
            SetDataPlace(data->GetDataOffset(), m_bInputOnly ? 0 : data->GetDataLength());
        } else if (const auto *error = dynamic_cast<const CArcMcsErrorField *>(host)) {
            SetDataPlace(error->GetErrorOffset(), error->GetLength());
        }
    } else {
        CArcTFDDrawableField::SetLength(5);
        SetProtected(false);
        SetBlinking(false);
        SetTabStop(true);
    }
    if (color >= 0 && color < kNoColor) SetColor(CArcTFDColor(color));
}

CArcTFDColor CArcTFDDataErrorField::GetDefaultColor() const {
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    if (!h) return CArcTFDColor(2);
    return CArcTFDColor(m_eType == Error ? h->GetErrorIntensity() : h->GetDataIntensity());
}

SafeString CArcTFDDataErrorField::GetText() const {
    char letter;
    switch (m_eType) {
    case UpperCaseAlpha: {
        const uint8_t c = GetRawColor().GetMcsColor();
        letter = !IsColorFormat(*this) && c < 9 ? kColorLetters[c] : 'U';
        break;
    }
    case AlphaOnly: letter = 'A'; break;
    case UpperLowerAlpha: letter = 'X'; break;
    case Error: letter = 'E'; break;
    default: return m_strText;
    }
    return SafeString(static_cast<unsigned>(GetLength() > 0 ? GetLength() : 0), letter);
}

void CArcTFDDataErrorField::SetText(const SafeString &text) {
    m_strText = text;
    const char letter = RepeatedLetter(text);
    const char *colour = letter ? std::strchr("SONLRBFGH", letter) : nullptr;
    if (letter == 'A')
        m_eType = AlphaOnly;
    else if (letter == 'X')
        m_eType = UpperLowerAlpha;
    else if (letter == 'E')
        m_eType = Error;
    else if (letter == 'U' || colour) {
        m_eType = UpperCaseAlpha;
        // The colour the letter stands for: S O N L R B F G H are 0 1 2 3 5 4 6 7 8.
        static const int kColours[] = {0, 1, 2, 3, 5, 4, 6, 7, 8};
        if (colour && !IsColorFormat(*this)) SetColor(CArcTFDColor(kColours[colour - "SONLRBFGH"]));
    } else
        m_eType = TypeNoneGiven;
    if (m_eType != TypeNoneGiven) SetLength(static_cast<int>(text.size()));
}

int CArcTFDDataErrorField::DoSaveIntoBuffer(CBuffer &out) const {
    static const uint8_t kKinds[] = {CArcMcsField::UpperLowerAlpha, CArcMcsField::UpperCaseAlpha,
                                     CArcMcsField::AlphaOnly, CArcMcsField::UpperLowerAlpha,
                                     CArcMcsField::ErrorField};
    const int length = GetLength();
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    const bool withDefault = m_eType != Error && !m_strDefaultText.empty() && length > 0;
    uint8_t b2 = DescriptorColor();
    if (withDefault) b2 |= 0x40;
    if (m_bInputOnly && h && h->GetSFSEmulationFormat()) b2 |= 0x20;
    int b0 = length;
    const int n = SaveContinued(out, b0) + 3;
    out << static_cast<uint8_t>(b0)
        << static_cast<uint8_t>(kKinds[m_eType] | (IsProtected() ? 0x80 : 0) | (IsTabStop() ? 0x40 : 0)) << b2;
    if (!withDefault) return n;
    out.AddCobolString(m_strDefaultText.c_str(), length);
    return n + length;
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDDataField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDDataField(*this));
}

SafeString CArcTFDDataField::GetDefaultHtmlClass() const {
    return IsProtected() ? "DATA_READONLY" : "DATA_NORMAL";
}

CArcTFDNumericField::CArcTFDNumericField(const CArcMcsField *host, CArcTFDFormat *format, const SafeString &mask)
    : CArcTFDDataField(host, format, TypeNoneGiven, kNoColor, SafeString()) {
    if (mask.empty()) {
        SetEditMask("99999");
        return;
    }
    if (!host) {
        SetEditMask(mask);
        return;
    }
    // A host's mask may carry NUL padding or other bytes: only the mask
    // characters count, so that the picture and the digits agree. The field
    // keeps the host's screen length.
    SafeString kept;
    for (char c : mask)
        if (CArcTFDEditMask::IsEditMaskCharacter(c)) kept += c;
    SetEditMask(kept);
    CArcTFDDrawableField::SetLength(static_cast<int>(mask.size()));
    m_EditMask.SetBlankWhenBlank(host->IsNumericBlankWhenBlank());
    if (host->GetKind() != CArcMcsField::NumericEdited) return;
    const auto &edited = static_cast<const CArcMcsNumericEditedField &>(*host);
    m_EditMask.SetDecimalPoint(edited.GetDecimalPlaces());
    m_EditMask.SetFloatingCurrency(edited.IsFloatingCurrencySymbol());
    switch (edited.GetSignType()) {
    case 0x10: m_EditMask.SetWhenNegative(CArcTFDEditMask::NegLeadingMinus); break;
    case 0x20: m_EditMask.SetWhenNegative(CArcTFDEditMask::NegTrailingMinus); break;
    case 0x30: m_EditMask.SetWhenNegative(CArcTFDEditMask::NegParentheses); break;
    case 0x40: m_EditMask.SetWhenNegative(CArcTFDEditMask::NegCR); break;
    case 0x50: m_EditMask.SetWhenNegative(CArcTFDEditMask::NegDB); break;
    default: break;
    }
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDNumericField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDNumericField(*this));
}

SafeString CArcTFDNumericField::GetText() const { return m_EditMask.GetEditMaskText(); }

void CArcTFDNumericField::SetText(const SafeString &text) {
    CArcTFDDataField::SetText(text);
    SetEditMask(text);
}

void CArcTFDNumericField::SetLength(int n) {
    CArcTFDDrawableField::SetLength(n);
    if (!m_EditMask.IsSimpleEditMask()) return;
    const SafeString &mask = m_EditMask.StripEditMaskText();
    m_EditMask.SetStrippedText(SafeString(static_cast<unsigned>(n > 0 ? n : 0), mask.empty() ? '9' : mask[0]));
}

void CArcTFDNumericField::SetEditMask(const SafeString &mask) {
    m_EditMask.SetStrippedText(mask);
    CArcTFDDrawableField::SetLength(static_cast<int>(mask.size()));
}

int CArcTFDNumericField::GetNumFldType(const SafeString &mask) {
    if (mask.empty()) return 0;
    if (mask.find_first_not_of('Z') == std::string::npos) return CArcMcsField::NumericZeroSuppressed;
    if (mask.find_first_not_of("92") == std::string::npos) return CArcMcsField::Numeric;
    return CArcMcsField::NumericEdited;
}

int CArcTFDNumericField::DoSaveIntoBuffer(CBuffer &out) const {
    const SafeString &mask = m_EditMask.StripEditMaskText();
    const int kind = GetNumFldType(mask);
    const int length = GetLength();
    const CArcTFDFormatHdrPeeker *h = GetFormatHdrPeeker();
    uint8_t b2 = DescriptorColor();
    if (IsInputOnly() && h && h->GetSFSEmulationFormat()) b2 |= 0x20;
    int b0 = length;
    const int n = SaveContinued(out, b0) + 3;
    out << static_cast<uint8_t>(b0)
        << static_cast<uint8_t>(kind | (IsProtected() ? 0x80 : 0) | (IsTabStop() ? 0x40 : 0) |
                                (m_EditMask.GetBlankWhenBlank() ? 0x20 : 0))
        << b2;
    if (kind != CArcMcsField::NumericEdited) return n;
    static const uint8_t kSign[] = {0x10, 0x20, 0x40, 0x50, 0x30, 0x00};
    const int mode = m_EditMask.GetWhenNegative();
    const auto edit = static_cast<uint8_t>((mode >= 0 && mode <= 5 ? kSign[mode] : 0) |
                                           (m_EditMask.GetDecimalPoint() & 0x0F) |
                                           (m_EditMask.GetFloatingCurrency() ? 0x80 : 0));
    out << edit << static_cast<uint8_t>(m_EditMask.GetNumberOfDigits() & 0x3F);
    if (length > 0) out.AddCobolString(mask.c_str(), length);
    return n + 2 + (length > 0 ? length : 0);
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDErrorField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDErrorField(*this));
}

CArcTFDSFSErrorField::CArcTFDSFSErrorField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format)
    : CArcTFDDrawableField(host, format) {}

std::unique_ptr<CArcTFDDrawableField> CArcTFDSFSErrorField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDSFSErrorField(*this));
}

int CArcTFDSFSErrorField::DoSaveIntoBuffer(CBuffer &out) const {
    const CArcTFDFormat *format = GetFormat();
    if (!format || !format->GetSFSErrIndData().IsDefined()) return 0;
    out << format->GetSFSErrIndData().indicator << static_cast<uint8_t>(0x10) << static_cast<uint8_t>(0x00)
        << static_cast<uint8_t>(0x16) << static_cast<uint8_t>(0x3C) << static_cast<uint8_t>(0x82)
        << static_cast<uint8_t>(0x05);
    return 7;
}
