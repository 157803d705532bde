// Host field descriptors: the kind table, the common reading steps and the
// kinds' own steps, which move the walk through the field area.
#include "ArcMcsField.h"

#include "ZelBuffer.h"
#include "logprint.h"

namespace {

template <class T>
std::unique_ptr<CArcMcsField> Make() {
    return std::unique_ptr<CArcMcsField>(new T());
}

// One kind: its code, the class that reads it, and whether it is a field
// of the screen (run-time field) or only steers the walk.
struct KindEntry {
    int code;
    std::unique_ptr<CArcMcsField> (*create)();
    bool runtime;
};

using K = CArcMcsField;
const KindEntry kKinds[] = {
    {K::UpperCaseAlpha, &Make<CArcMcsDataField>, true},
    {K::UpperLowerAlpha, &Make<CArcMcsDataField>, true},
    {K::Continued, &Make<CArcMcsContinuedField>, false},
    {K::AlphaOnly, &Make<CArcMcsDataField>, true},
    {K::Numeric, &Make<CArcMcsDataField>, true},
    {K::NumericZeroSuppressed, &Make<CArcMcsDataField>, true},
    {K::NumericEdited, &Make<CArcMcsNumericEditedField>, true},
    {K::RpgSfsIndicator, &Make<CArcMcsRpgSfsIndicatorField>, false},
    {K::HeadingSpaces, &Make<CArcMcsHeadingSpacesField>, true},
    {K::ErrorField, &Make<CArcMcsErrorField>, true},
    {K::HeadingText, &Make<CArcMcsHeadingTextField>, true},
    {K::NewLine, &Make<CArcMcsNewLineField>, true},
    {K::SectionDuplicate, &Make<CArcMcsSectionDuplicateField>, false},
    {K::YearMonthDay, &Make<CArcMcsSpecialField>, true},
    {K::MonthDayYear, &Make<CArcMcsSpecialField>, true},
    {K::HourMinute, &Make<CArcMcsSpecialField>, true},
    {K::UserId, &Make<CArcMcsSpecialField>, true},
    {K::TerminalId, &Make<CArcMcsSpecialField>, true},
    {K::FormatName, &Make<CArcMcsSpecialField>, true},
    {K::TransactionId, &Make<CArcMcsSpecialField>, true},
    {K::DayMonthYear, &Make<CArcMcsSpecialField>, true},
    {K::LogicalFieldBegin, &Make<CArcMcsLogicalFieldBeginField>, false},
    {K::DefineColours, &Make<CArcMcsDefineColoursField>, false},
    {K::RepeatCharacter, &Make<CArcMcsRepeatCharacterField>, true},
    {K::RepeatSpaces, &Make<CArcMcsRepeatSpacesField>, true},
    {K::OutputIndicator, &Make<CArcMcsDefinitionField>, false},
    {K::InputIndicator, &Make<CArcMcsDefinitionField>, false},
    {K::ErrorIndicator, &Make<CArcMcsDefinitionField>, false},
    {K::BidirectionalNonDisplay, &Make<CArcMcsDefinitionField>, false},
    {K::InputOnlyNonDisplay, &Make<CArcMcsDefinitionField>, false},
};

const KindEntry *FindKind(int code) {
    for (const KindEntry &k : kKinds)
        if (k.code == code) return &k;
    return nullptr;
}

}  // namespace

int CArcMcsField::PeekMcsFieldType(uint8_t b0, uint8_t b1, uint8_t b2) {
    if (b0 >= 0x80) return (b0 & 0xC0) == 0xC0 ? RepeatSpaces : RepeatCharacter;
    if ((b1 & 0x1F) == 0x1F && b0 != 0) return 0xF0 | (b2 & 0x0F);
    return b1 & 0x1F;
}

std::unique_ptr<CArcMcsField> CArcMcsField::ConstructFromBuffer(CBuffer &b, McsFieldInfo &walk) {
    walk.fault = nullptr;
    walk.unknownKind = false;
    const int left = walk.areaEnd - b.GetOffset();
    if (left < 1 || left > b.GetLength()) {
        walk.fault = "the field area ends inside a descriptor";
        return nullptr;
    }
    const auto b0 = static_cast<uint8_t>(b.GetAt(0));
    uint8_t b1 = 0, b2 = 0;
    if (b0 < 0x80) {
        // One-byte descriptors have b0 >= 0x80; the others need all three.
        if (left < 3) {
            walk.fault = "the field area ends inside a descriptor";
            return nullptr;
        }
        b1 = static_cast<uint8_t>(b.GetAt(1));
        b2 = static_cast<uint8_t>(b.GetAt(2));
    }
    const int code = PeekMcsFieldType(b0, b1, b2);
    const KindEntry *kind = FindKind(code);
    if (!kind) {
        // The same two lines as ever, so that existing log watchers match.
        logPrintf("%s Line %d Something asserted\n", "McsField", 302);
        walk.fault = "unknown field kind";
        walk.unknownKind = true;
        return nullptr;
    }
    std::unique_ptr<CArcMcsField> field = kind->create();
    field->m_nKind = code;
    field->m_bRuntime = kind->runtime;
    if (left < field->DescriptorSize()) {
        walk.fault = "the field area ends inside a descriptor";
        return nullptr;
    }
    if (!field->Create(b, walk)) return nullptr;
    return field;
}

bool CArcMcsField::Create(CBuffer &b, McsFieldInfo &walk) {
    const bool threeBytes = DescriptorSize() == 3;
    b >> m_b0;
    if (threeBytes) b >> m_b1 >> m_b2;

    if (m_nKind == NewLine || m_nKind == RepeatSpaces) {
        m_bProtected = true;
        m_nColour = walk.headingIntensity;
    } else {
        m_bProtected = (m_b1 & 0x80) != 0;
        m_bTabStop = (m_b1 & 0x40) != 0;
        m_bChanged = (m_b2 & 0x80) != 0;
        m_nColour = m_b2 & 0x0F;
        m_bNumeric = m_nKind == Numeric || m_nKind == NumericZeroSuppressed || m_nKind == NumericEdited;
        m_bAlphaOnly = m_nKind == AlphaOnly;
    }
    m_nExactSecurity = walk.exactSecurity;
    m_nSecurityLevel = walk.securityLevel;
    m_nRow = walk.row;
    m_nColumn = walk.column;

    // Continued fields' length goes to the next three-byte descriptor.
    m_nLength = LengthFrom(threeBytes ? walk.carriedLength : 0);
    if (threeBytes) walk.carriedLength = 0;

    if (ExtraBytes() > walk.areaEnd - b.GetOffset()) {
        walk.fault = "field data runs past the end of the field area";
        return false;
    }
    if (Advances()) walk.column += m_nLength;
    return OnCreate(b, walk);
}

SafeString CArcMcsField::ReadText(CBuffer &b, int n) {
    std::string s;
    if (n > 0) b.GetCobolString(s, n, 1);
    return s;
}

bool CArcMcsDataField::OnCreate(CBuffer &b, McsFieldInfo &walk) {
    m_nIndex = ++walk.lastDataIndex;
    if (IsDefaultData()) m_strDefaultData = ReadText(b, m_nLength);
    m_bInputOnly = walk.sfsEmulation && (m_b2 & 0x20) != 0;
    m_nDataOffset = walk.dataOffset;
    if (!m_bInputOnly) walk.dataOffset += GetDataLength();
    return true;
}

bool CArcMcsNumericEditedField::OnCreate(CBuffer &b, McsFieldInfo &walk) {
    m_nPositiveIntensity = m_nColour;
    m_nNegativeIntensity = walk.negativeIntensity;
    b >> m_nEditByte >> m_nDigitsByte;
    m_strMask = ReadText(b, m_nLength);
    return CArcMcsDataField::OnCreate(b, walk);
}

bool CArcMcsRepeatCharacterField::OnCreate(CBuffer &b, McsFieldInfo &) {
    b >> m_cChar;
    return true;
}

bool CArcMcsErrorField::OnCreate(CBuffer &, McsFieldInfo &walk) {
    m_nHeadingIntensity = walk.headingIntensity;
    m_nErrorIntensity = walk.errorIntensity;
    m_nErrorOffset = walk.errorOffset;
    walk.errorOffset += m_nLength;
    return true;
}

bool CArcMcsContinuedField::OnCreate(CBuffer &, McsFieldInfo &walk) {
    walk.carriedLength = m_nLength;
    return true;
}

int CArcMcsRpgSfsIndicatorField::GetIndicatorNumber() const {
    if (IsOldStyle()) return m_b2;
    return m_b0 + ((m_b2 & 0x80) ? 128 : 0);
}

bool CArcMcsRpgSfsIndicatorField::OnCreate(CBuffer &b, McsFieldInfo &) {
    if (!IsOldStyle()) b >> m_nFlags;
    return true;
}

bool CArcMcsNewLineField::OnCreate(CBuffer &b, McsFieldInfo &walk) {
    walk.lineRepeat = walk.lineRepeat ? walk.lineRepeat - 1 : m_nLength;
    if (walk.lineRepeat)
        b.SetOffset(walk.lineStart - b.GetOffset());   // the line once more
    else
        walk.lineStart = b.GetOffset();
    walk.row += 1;
    walk.column = 1;
    return true;
}

bool CArcMcsSectionDuplicateField::OnCreate(CBuffer &b, McsFieldInfo &walk) {
    const int self = b.GetOffset() - 3;
    walk.sectionRepeat = walk.sectionRepeat ? walk.sectionRepeat - 1 : m_b0;
    if (walk.sectionRepeat) {
        const int target = self - m_b2;
        if (target < walk.areaStart) {
            walk.fault = "a repeated section starts before the field area";
            return false;
        }
        b.SetOffset(target - b.GetOffset());
    } else if (walk.lineStart == self) {
        walk.lineStart = b.GetOffset();
    }
    return true;
}

bool CArcMcsLogicalFieldBeginField::OnCreate(CBuffer &, McsFieldInfo &walk) {
    m_nExactSecurity = (m_b1 & 0x20) ? 1 : 0;
    m_nSecurityLevel = m_b2;
    walk.exactSecurity = m_nExactSecurity;
    walk.securityLevel = m_nSecurityLevel;
    return true;
}

bool CArcMcsDefineColoursField::OnCreate(CBuffer &b, McsFieldInfo &) {
    for (uint8_t &c : m_aColours) b >> c;
    return true;
}
