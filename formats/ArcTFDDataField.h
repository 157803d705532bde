// Form fields that carry screen data: alpha data fields, numeric fields
// with an edit mask, and the place of the host's error message; plus the
// error line of an SFS emulation format.
//
// Every data field knows where its value lies in the host's screen data
// (GetDataOffset, GetDataLength), so that the field file can be kept in
// step with the host data.
#ifndef QOR_ARCTFDDATAFIELD_H
#define QOR_ARCTFDDATAFIELD_H

#include "ArcTFDDrawableField.h"
#include "ArcTFDEditMask.h"

class CArcMcsHeadingTextField;

class CArcTFDDataErrorField : public CArcTFDDrawableField {
public:
    enum Type_t : int { TypeNoneGiven = 0, UpperCaseAlpha = 1, AlphaOnly = 2, UpperLowerAlpha = 3, Error = 4 };
    static constexpr int kNoColor = 255;

    // From a host field: protected, blinking and tab stop from it, input
    // only, ordinal and data place when it is a host data field. Without
    // one: length 5, unprotected, tab stop. A colour below 255 is set.
    CArcTFDDataErrorField(const CArcMcsField *host, CArcTFDFormat *format, Type_t type, int color,
                          const SafeString &defaultText);

    CArcTFDColor GetDefaultColor() const override;
    int GetIndex() const override { return m_nIndex; }
    void SetIndex(int index) { m_nIndex = index; }
    // One letter repeated to the length: type 1 a colour letter (S O L B
    // R F G H for colours 0 1 3 4 5 6 7 8, else U; always U in a colour
    // format), type 2 A, type 3 X, type 4 E; type 0 the stored text.
    SafeString GetText() const override;
    // A text of one repeated letter sets the type (and, for colour letters
    // outside colour formats, the colour) and the length; any other text
    // gives type 0.
    void SetText(const SafeString &text) override;
    // A data field writes its input under its name (field_NNN) and tells the
    // saver it wrote an input element; an error field (type 4) writes the
    // host's error text placeholder.
    void WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const override;

    Type_t GetType() const { return m_eType; }
    void SetType(Type_t type) { m_eType = type; }
    const SafeString &GetDefaultText() const { return m_strDefaultText; }
    void SetDefaultText(const SafeString &text) { m_strDefaultText = text; }
    bool IsInputOnly() const { return m_bInputOnly; }
    void SetInputOnly(bool on) { m_bInputOnly = on; }
    // Data fields: offset of the value in the host's screen data and the
    // bytes it takes there (0 for input-only fields, which take none; the
    // host's digit count for numeric edited fields). Error fields: offset in
    // the host's error area and their length. -1 and 0 for fields made
    // without a host field.
    int GetDataOffset() const { return m_nDataOffset; }
    int GetDataLength() const { return m_nDataLength; }
    void SetDataPlace(int offset, int length) {
        m_nDataOffset = offset;
        m_nDataLength = length;
    }

    // The descriptor of the host kind the field came from: b0 the length,
    // b1 the kind code plus 0x80 protected and 0x40 tab stop, b2 0x40 with
    // default data, 0x20 input only (SFS emulation formats) and the colour;
    // then the default data.
    int DoSaveIntoBuffer(CBuffer &out) const override;

private:
    Type_t m_eType = TypeNoneGiven;
    SafeString m_strDefaultText;
    bool m_bInputOnly = false;
    int m_nIndex = 0;
    int m_nDataOffset = -1;
    int m_nDataLength = 0;
};

class CArcTFDDataField : public CArcTFDDataErrorField {
public:
    CArcTFDDataField(const CArcMcsField *host, CArcTFDFormat *format, Type_t type, int color,
                     const SafeString &defaultText)
        : CArcTFDDataErrorField(host, format, type, color, defaultText) {}

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeData; }
    const char *GetAutomationFieldType() const override { return "datafield"; }
    // "DATA_READONLY" when protected, else "DATA_NORMAL".
    SafeString GetDefaultHtmlClass() const override;
};

class CArcTFDNumericField : public CArcTFDDataField {
public:
    // A mask of the host field's length: all "9", all "Z", or the host's
    // own edit mask (with its decimals, currency and sign); the host's
    // blank-when-blank turns "9" into "2". An empty mask gives "99999".
    CArcTFDNumericField(const CArcMcsField *host, CArcTFDFormat *format, const SafeString &mask);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeNumeric; }
    const char *GetAutomationFieldType() const override { return "numericfield"; }
    // The displayed edit mask ("$ZZ,ZZ9.99-").
    SafeString GetText() const override;
    void SetText(const SafeString &text) override;
    // Sets the length; a simple mask ("9999") is rebuilt to that length.
    void SetLength(int n) override;
    // The number of digit positions of the mask.
    int GetCobolLength() const override { return m_EditMask.GetCobolLength(); }

    const CArcTFDEditMask &GetEditMask() const { return m_EditMask; }
    CArcTFDEditMask &GetEditMaskForChange() { return m_EditMask; }
    SafeString GetEditMaskText() const { return m_EditMask.GetEditMaskText(); }
    // The mask text as it stands; the length becomes its length.
    void SetEditMask(const SafeString &mask);

    // Host kind of the mask: all "Z" 10, all "9" or "2" 9, else 12 (edited);
    // 0 for an empty mask.
    static int GetNumFldType(const SafeString &mask);
    // The numeric descriptor; the edited kind adds the edit byte, the digits
    // byte and the mask.
    int DoSaveIntoBuffer(CBuffer &out) const override;

private:
    CArcTFDEditMask m_EditMask;
};

class CArcTFDErrorField : public CArcTFDDataErrorField {
public:
    CArcTFDErrorField(const CArcMcsField *host, CArcTFDFormat *format, int color)
        : CArcTFDDataErrorField(host, format, Error, color, SafeString()) {}

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeError; }
    const char *GetAutomationFieldType() const override { return "errorfield"; }
    SafeString GetDefaultHtmlClass() const override { return "ERROR"; }
};

// The error-message line of an SFS emulation format, for writers that
// place one.
class CArcTFDSFSErrorField : public CArcTFDDrawableField {
public:
    CArcTFDSFSErrorField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    const char *GetAutomationFieldType() const override { return "sfserrorfield"; }
    // With an error indicator defined: the indicator setting and a protected
    // 60-column upper/lower alpha field of colour 5 (7 bytes).
    int DoSaveIntoBuffer(CBuffer &out) const override;
};

#endif
