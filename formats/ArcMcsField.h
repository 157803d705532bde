// Host field descriptors: the field area of a screen format is a run of
// descriptors, each followed by the extra data of its kind. Reading one
// gives one CArcMcsField object, which the format reader turns at once into
// a form field and then drops.
//
// A descriptor is three bytes b0 b1 b2, except repeat-spaces (one byte):
//   b0  the length (columns) for most kinds, a count for others; with bit 7
//       set the byte alone gives the kind (repeat character, repeat spaces)
//   b1  0x80 protected, 0x40 tab stop, 0x20 numeric blank-when-blank (exact
//       security for a logical field begin), low five bits the type code
//   b2  0x80 changed, 0x40 default data follows, 0x20 input only (SFS
//       emulation formats), 0x10 blinking, low nibble the colour; some
//       kinds use the byte otherwise (see their classes)
//
// The walk (McsFieldInfo) gives each field its 1-based row and column, its
// offset in the host's screen data, and the security in force; it repeats
// lines and sections as their descriptors ask.
#ifndef QOR_ARCMCSFIELD_H
#define QOR_ARCMCSFIELD_H

#include <cstdint>
#include <memory>

#include "SafeString.h"

class CBuffer;
class CZelFccMods;

// State of one walk over a field area. Offsets are CBuffer offsets.
struct McsFieldInfo {
    int lastDataIndex = 0;        // ordinal of the last data field
    int row = 1;                  // 1-based position of the next field
    int column = 1;
    int dataOffset = 0;           // next field's offset in the screen data
    int errorOffset = 0;          // next error field's offset in the error area
    int areaStart = 0;            // the field area
    int areaEnd = 0;
    int lineStart = 0;            // first descriptor of the current line
    bool sfsEmulation = false;
    int exactSecurity = 0;        // set by logical field begins
    uint8_t securityLevel = 255;  // 255: none
    int sectionRepeat = 0;        // passes left of a repeated section
    int lineRepeat = 0;           // passes left of a repeated line
    int carriedLength = 0;        // continued fields' length, for the next field
    uint8_t headingIntensity = 0;
    uint8_t dataIntensity = 0;
    uint8_t negativeIntensity = 0;
    uint8_t errorIntensity = 0;
    // Why the last ConstructFromBuffer gave nothing (null: no failure).
    const char *fault = nullptr;
    bool unknownKind = false;
};

class CArcMcsField {
public:
    // Kind codes, as PeekMcsFieldType gives them.
    enum Kind : int {
        UpperCaseAlpha = 1, UpperLowerAlpha = 2, Continued = 3, AlphaOnly = 4,
        Numeric = 9, NumericZeroSuppressed = 10, NumericEdited = 12,
        RpgSfsIndicator = 16, HeadingSpaces = 17, ErrorField = 18, HeadingText = 19,
        NewLine = 20, SectionDuplicate = 21,
        YearMonthDay = 22, MonthDayYear = 23, HourMinute = 24, UserId = 25,
        TerminalId = 26, FormatName = 27, TransactionId = 28, DayMonthYear = 29,
        LogicalFieldBegin = 30, DefineColours = 31,
        RepeatCharacter = 0x80, RepeatSpaces = 0xC0,
        OutputIndicator = 0xF1, InputIndicator = 0xF2, ErrorIndicator = 0xF3,
        BidirectionalNonDisplay = 0xF4, InputOnlyNonDisplay = 0xF5,
    };

    // The kind of a descriptor, from its bytes (b1, b2 matter only when
    // b0 < 0x80): 0xC0 or 0x80 by b0's top bits; type code 31 with a
    // non-zero b0 is a definition kind 0xF0 + b2's low nibble; otherwise
    // b1's type code.
    static int PeekMcsFieldType(uint8_t b0, uint8_t b1, uint8_t b2);

    // Reads the descriptor at the buffer's read offset and its extra data,
    // and moves the walk on. Null when the kind is unknown or the
    // descriptor or its data run past the field area (walk.fault says why).
    static std::unique_ptr<CArcMcsField> ConstructFromBuffer(CBuffer &buffer, McsFieldInfo &walk);

    virtual ~CArcMcsField() = default;

    int GetKind() const { return m_nKind; }
    bool IsRuntimeField() const { return m_bRuntime; }
    int GetFieldIndex() const { return m_nIndex; }   // data fields: 1-based ordinal
    int GetRow() const { return m_nRow; }            // 1-based
    int GetColumn() const { return m_nColumn; }
    bool InField(int row, int column) const {
        return row == m_nRow && column >= m_nColumn && column < m_nColumn + m_nLength;
    }
    bool IsProtected() const { return m_bProtected; }
    bool IsTabStop() const { return m_bTabStop; }
    bool IsChanged() const { return m_bChanged; }
    bool IsNumeric() const { return m_bNumeric; }
    bool IsAlphaOnly() const { return m_bAlphaOnly; }
    bool IsBlinking() const { return (m_b2 & 0x10) != 0; }
    bool IsNumericBlankWhenBlank() const { return (m_b1 & 0x20) != 0; }
    uint8_t GetColour() const { return m_nColour; }
    int GetExactSecurity() const { return m_nExactSecurity; }
    uint8_t GetSecurityLevel() const { return m_nSecurityLevel; }
    // Columns on the screen, continued fields' length included; for the
    // repeat kinds the repeat count.
    int GetLength() const { return m_nLength; }
    uint8_t GetB0() const { return m_b0; }
    uint8_t GetB1() const { return m_b1; }
    uint8_t GetB2() const { return m_b2; }

protected:
    CArcMcsField() = default;

    // Bytes of the descriptor itself (3, or 1 for repeat spaces).
    virtual int DescriptorSize() const { return 3; }
    // Extra data after the descriptor, known once the descriptor is read.
    virtual int ExtraBytes() const { return 0; }
    // Whether the walk's column moves on by the length.
    virtual bool Advances() const { return true; }
    // The length from b0 and the continued fields' length before it.
    virtual int LengthFrom(int carried) const { return m_b0 + carried; }
    // The kind's own steps after the common ones (the extra data is there);
    // false, with walk.fault set, when the descriptor cannot be followed.
    virtual bool OnCreate(CBuffer &, McsFieldInfo &) { return true; }

    // A text of n bytes at the read offset (NUL ends it, blanks pad it).
    static SafeString ReadText(CBuffer &buffer, int n);

    int m_nKind = 0;
    bool m_bRuntime = true;
    int m_nIndex = 0;
    int m_nRow = 0, m_nColumn = 0;
    bool m_bProtected = false, m_bNumeric = false, m_bAlphaOnly = false;
    bool m_bTabStop = false, m_bChanged = false;
    uint8_t m_nColour = 0;
    int m_nExactSecurity = 0;
    uint8_t m_nSecurityLevel = 255;
    int m_nLength = 0;
    uint8_t m_b0 = 0, m_b1 = 0, m_b2 = 0;

private:
    // The common steps; false when the extra data runs past the area.
    bool Create(CBuffer &buffer, McsFieldInfo &walk);
};

// Alpha and numeric data fields (upper-case alpha, upper/lower alpha,
// alpha only, numeric, numeric zero-suppressed): they hold screen data.
class CArcMcsDataField : public CArcMcsField {
public:
    bool IsDefaultData() const { return (m_b2 & 0x40) != 0; }
    const SafeString &GetDefaultData() const { return m_strDefaultData; }
    bool IsInputOnly() const { return m_bInputOnly; }
    // Offset in the host's screen data. An input-only field takes no room:
    // it has the offset of the next field and a data length of 0.
    int GetDataOffset() const { return m_nDataOffset; }
    // Bytes of screen data the field takes when it is not input only.
    virtual int GetDataLength() const { return m_nLength; }

    // Field control modifications: the host sends one pair of characters
    // per data field, M (the modification) and N (its attribute or
    // intensity). These give the flag bytes a page filler reads for them,
    // the same bytes CZelFccMods::TranslateMods writes: M's byte, N's byte,
    // and both bytes of this field's own pair (the N-th pair for the field
    // of ordinal N) in a list as the host sent it; false when the list
    // holds no pair for the field.
    unsigned char ProcessRealFccM(unsigned char m, unsigned char n) const;
    unsigned char ProcessRealFccN(unsigned char m, unsigned char n) const;
    bool ProcessFccModN(const CZelFccMods &hostMods, unsigned char &r1, unsigned char &r2) const;

protected:
    int ExtraBytes() const override { return IsDefaultData() ? m_nLength : 0; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;

    SafeString m_strDefaultData;
    bool m_bInputOnly = false;
    int m_nDataOffset = 0;
};

// Numeric edited: an edit byte (0x0F decimal places, 0x70 sign type, 0x80
// floating currency), a digits byte (0x3F digits held in the screen data)
// and the edit mask (length bytes) come before any default data.
class CArcMcsNumericEditedField : public CArcMcsDataField {
public:
    int GetDecimalPlaces() const { return m_nEditByte & 0x0F; }
    int GetSignType() const { return m_nEditByte & 0x70; }
    bool IsFloatingCurrencySymbol() const { return (m_nEditByte & 0x80) != 0; }
    int GetDigits() const { return m_nDigitsByte & 0x3F; }
    int GetDataLength() const override { return GetDigits(); }
    const SafeString &GetMask() const { return m_strMask; }
    uint8_t GetPositiveIntensity() const { return m_nPositiveIntensity; }
    uint8_t GetNegativeIntensity() const { return m_nNegativeIntensity; }

protected:
    int ExtraBytes() const override { return 2 + m_nLength + CArcMcsDataField::ExtraBytes(); }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;

private:
    uint8_t m_nEditByte = 0, m_nDigitsByte = 0;
    SafeString m_strMask;
    uint8_t m_nPositiveIntensity = 0, m_nNegativeIntensity = 0;
};

// Constant text: heading text (length bytes of text follow), and the kinds
// built on it.
class CArcMcsHeadingTextField : public CArcMcsField {
public:
    virtual SafeString GetText() const { return m_strText; }

protected:
    int ExtraBytes() const override { return m_nLength; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &) override {
        m_strText = ReadText(buffer, m_nLength);
        return true;
    }

    SafeString m_strText;
};

// A system value shown by the page (date, time, user, terminal, format or
// transaction name); the kind code says which. No extra data.
class CArcMcsSpecialField : public CArcMcsHeadingTextField {
public:
    // Makes the field's text the current local date through a strftime
    // pattern. A text longer than the field loses its surplus characters
    // from the cut position on: "%d.%m.%Y" cut at 6 shows 31.12.2024 in 8
    // columns as "31.12.24". An unusable pattern gives an empty text.
    const SafeString &LoadDate(const char *pattern, int cut);

protected:
    int ExtraBytes() const override { return 0; }
    bool OnCreate(CBuffer &, McsFieldInfo &) override { return true; }
};

// One character repeated b0 & 0x7F times (the character follows the
// descriptor).
class CArcMcsRepeatCharacterField : public CArcMcsSpecialField {
public:
    SafeString GetText() const override { return SafeString(static_cast<unsigned>(m_nLength), m_cChar); }

protected:
    int ExtraBytes() const override { return 1; }
    int LengthFrom(int carried) const override { return (m_b0 & 0x7F) + carried; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &) override;

    char m_cChar = ' ';
};

// b0 blanks; nothing follows the descriptor.
class CArcMcsHeadingSpacesField : public CArcMcsRepeatCharacterField {
protected:
    int ExtraBytes() const override { return 0; }
    bool OnCreate(CBuffer &, McsFieldInfo &) override { return true; }
};

// Where the host puts its error message; counted in the error area.
class CArcMcsErrorField : public CArcMcsField {
public:
    int GetErrorOffset() const { return m_nErrorOffset; }
    uint8_t GetHeadingIntensity() const { return m_nHeadingIntensity; }
    uint8_t GetErrorIntensity() const { return m_nErrorIntensity; }

protected:
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;

private:
    int m_nErrorOffset = 0;
    uint8_t m_nHeadingIntensity = 0, m_nErrorIntensity = 0;
};

// Adds its b0 to the length of the next field.
class CArcMcsContinuedField : public CArcMcsField {
protected:
    bool Advances() const override { return false; }
    int LengthFrom(int carried) const override { return carried + m_b0; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;
};

// RPG SFS indicator setting for the next field: its number, and unless it
// is old style (b0 = 0) a flags byte.
class CArcMcsRpgSfsIndicatorField : public CArcMcsField {
public:
    bool IsOldStyle() const { return m_b0 == 0; }
    int GetIndicatorNumber() const;
    bool IsNotIndicator() const { return (m_nFlags & 0x04) != 0; }
    bool IsBlankWhenBlank() const { return (m_nFlags & 0x08) != 0; }
    bool IsDisplayOffProtect() const { return (m_nFlags & 0x10) != 0; }
    bool IsSetProtection() const { return (m_nFlags & 0x20) != 0; }
    bool IsSetCursorPosition() const { return (m_nFlags & 0x40) != 0; }
    bool IsModifyColour() const { return (m_nFlags & 0x80) != 0; }

protected:
    bool Advances() const override { return false; }
    int ExtraBytes() const override { return IsOldStyle() ? 0 : 1; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;

private:
    uint8_t m_nFlags = 0;
};

// The rest of the row is empty; b0 (with any continued length) repeats the
// line of descriptors before it that many more times.
class CArcMcsNewLineField : public CArcMcsField {
protected:
    bool Advances() const override { return false; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;
};

// Repeats the b2 bytes of descriptors before it b0 more times.
class CArcMcsSectionDuplicateField : public CArcMcsField {
protected:
    bool Advances() const override { return false; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;
};

// Starts a run of fields with a security level (b2; 255 none) that must be
// met exactly when b1 bit 5 is set.
class CArcMcsLogicalFieldBeginField : public CArcMcsField {
protected:
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;
};

// The colour table of a colour format: 16 bytes, foreground in bits 0-2,
// background in bits 3-5.
class CArcMcsDefineColoursField : public CArcMcsField {
public:
    int GetForegroundColour(int i) const { return i >= 0 && i < 16 ? m_aColours[i] & 7 : 0; }
    int GetBackgroundColour(int i) const { return i >= 0 && i < 16 ? (m_aColours[i] >> 3) & 7 : 0; }

protected:
    bool Advances() const override { return false; }
    int ExtraBytes() const override { return 16; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &walk) override;

private:
    uint8_t m_aColours[16] = {};
};

// A run of b0 & 0x3F blank columns in one byte.
class CArcMcsRepeatSpacesField : public CArcMcsField {
protected:
    int DescriptorSize() const override { return 1; }
    int LengthFrom(int) const override { return m_b0 & 0x3F; }
};

// SFS definitions (output, input and error indicators, non-display
// indicators): a text of length bytes; the kind code says which.
class CArcMcsDefinitionField : public CArcMcsField {
public:
    const SafeString &GetData() const { return m_strText; }

protected:
    bool Advances() const override { return false; }
    int ExtraBytes() const override { return m_nLength; }
    bool OnCreate(CBuffer &buffer, McsFieldInfo &) override {
        m_strText = ReadText(buffer, m_nLength);
        return true;
    }

private:
    SafeString m_strText;
};

#endif
