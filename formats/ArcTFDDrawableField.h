// CArcTFDDrawableField: the base of every field of a converted screen
// format (a form field): position, length, attributes, colour, text, the
// SFS indicator settings that apply to it, help id and HTML settings.
// The format reader builds the fields from the host's field descriptors
// (CreateField); the page and field-file writers walk them.
//
// Rows and columns of form fields count from 0 (the host counts from 1).
#ifndef QOR_ARCTFDDRAWABLEFIELD_H
#define QOR_ARCTFDDRAWABLEFIELD_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArcTFDColor.h"
#include "SafeString.h"

class CBuffer;
class CArcMcsField;
class CArcMcsRpgSfsIndicatorField;
class CArcTFDFormat;
class CArcTFDFormatHdrPeeker;
class CArcTFDDrawableFieldMeta;
class CArcTFDFormatSaver;

// Field identities: one counter per process, ids never reused.
class CArcCountId {
public:
    // 32-bit id; -1 is undefined.
    class Id_t {
    public:
        Id_t() = default;
        explicit Id_t(int32_t v) : m_nId(v) {}
        int32_t Get() const { return m_nId; }
        bool IsUndefined() const { return m_nId == -1; }
        void SetUndefined() { m_nId = -1; }
        bool operator==(const Id_t &o) const { return m_nId == o.m_nId; }
        bool operator!=(const Id_t &o) const { return m_nId != o.m_nId; }
        bool operator<(const Id_t &o) const { return m_nId < o.m_nId; }
        // Decimal text, and back; SetFromText takes only a whole decimal
        // number within 32 bits (returns false and keeps the id otherwise).
        std::string ToText() const;
        bool SetFromText(const std::string &text);

    private:
        int32_t m_nId = -1;
    };

    // Counts on and returns the new value (after 2^31 - 1 it starts at 0).
    Id_t Next();

private:
    Id_t m_Last;
};

// One RPG SFS indicator setting of a field: indicator number, colour and
// what the indicator does.
class CArcTFDSFSIndicatorData {
public:
    enum : uint8_t {
        ModifyColour = 0x01, SetCursorPosition = 0x02, SetProtection = 0x04,
        DisplayOff = 0x08, BlankWhenBlank = 0x10, NotIndicator = 0x20,
    };

    CArcTFDSFSIndicatorData() = default;
    explicit CArcTFDSFSIndicatorData(const CArcMcsRpgSfsIndicatorField &host);

    uint8_t GetIndicator() const { return m_nIndicator; }
    uint8_t GetColor() const { return m_nColor; }
    uint8_t GetFlags() const { return m_nFlags; }
    // The flags as a host descriptor carries them: 0x80, 0x40, 0x20, 0x10,
    // 0x08 and 0x04 in the order of the enum above.
    uint8_t GetIndicFlagsByte() const;

    bool operator==(const CArcTFDSFSIndicatorData &o) const {
        return m_nIndicator == o.m_nIndicator && m_nColor == o.m_nColor && m_nFlags == o.m_nFlags;
    }

private:
    uint8_t m_nIndicator = 0;
    uint8_t m_nColor = 0;
    uint8_t m_nFlags = 0;
};

using VectorOfSFSIndData_t = std::vector<CArcTFDSFSIndicatorData>;

class CArcTFDDrawableField {
public:
    using Id_t = CArcCountId::Id_t;

    // How the page writer shows the field. Conversion gives 0 (no field
    // control modifications), 10 (limited) or 5 (full).
    enum HtmlType_t : int {
        HtmlNone = 0, HtmlTitle = 1, HtmlSkip2 = 2, HtmlSkip3 = 3, HtmlShownHidden = 4,
        HtmlFull = 5, HtmlSelect = 6, HtmlRule = 7, HtmlHidden = 8, HtmlTransmit = 9,
        HtmlLimited = 10,
    };
    // Field types as the field meta object names them.
    enum FieldType_t : int {
        TypeNone = 0, TypeHeading = 1, TypeData = 2, TypeError = 3,
        TypeNumeric = 4, TypeSpecial = 5, TypeSecurity = 6,
    };

    // A field made from a host field (position, length, attributes and
    // colour from it, and a new id), or without one (id undefined).
    CArcTFDDrawableField(const CArcMcsField *host, CArcTFDFormat *format);
    virtual ~CArcTFDDrawableField() = default;

    // The one place that decides which form field, if any, a host field
    // becomes while a format is read; null for kinds that only steer the
    // walk or set the format up. Uses the format's per-read SFS state.
    static std::unique_ptr<CArcTFDDrawableField> CreateField(const CArcMcsField *host, CArcTFDFormat *format);

    // A copy of the same class with the same id. Like the assignment of
    // these fields it takes position, length, attributes, colour, id, HTML
    // type and SFS settings, and each kind's own data, but not the help id
    // or the HTML name, description, class and flags.
    virtual std::unique_ptr<CArcTFDDrawableField> Clone() const;

    virtual FieldType_t GetFieldType() const { return TypeNone; }
    virtual const char *GetAutomationFieldType() const { return ""; }
    virtual int GetLength() const { return m_nLength; }
    virtual int GetCobolLength() const { return GetLength(); }
    virtual void SetLength(int n) { m_nLength = n; }
    // The field's colour, or its default colour while it has none.
    virtual CArcTFDColor GetColor() const { return m_Color.IsUndefined() ? GetDefaultColor() : m_Color; }
    // The header's heading intensity (2 without a header).
    virtual CArcTFDColor GetDefaultColor() const;
    virtual void SetColor(const CArcTFDColor &c) { m_Color = c; }
    // The host data field's 1-based ordinal; 0 for other fields.
    virtual int GetIndex() const { return 0; }
    virtual int NewFieldSetup() { return 1; }
    virtual SafeString GetText() const { return m_strText; }
    // Stores the text; the length becomes the text's length.
    virtual void SetText(const SafeString &text);
    virtual SafeString GetDefaultHtmlClass() const { return SafeString(); }
    // Appends the field's piece of the page being written: its own text
    // (escaped) under the saver's counters; data, error and special fields
    // write their name or placeholder instead.
    virtual void WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const;

    // The field's HTML for its HTML type (0, 10, 5 from conversion; 1, 4, 6,
    // 7, 8, 9 for fields built otherwise), appended to out. text is the name
    // of a data field, else the text shown; it is escaped for HTML, a
    // backslash too when hostText (so host text never opens a template
    // placeholder). style goes right after "<INPUT".
    void GenerateHtmlTypeField(const SafeString &text, const SafeString &style, int length, int dataCount,
                               int detail, int indent, std::string &out, bool hostText = true) const;

    // Writes the field as host descriptor bytes: in SFS emulation formats
    // first its SFS indicator settings, four bytes each; then the field's
    // own descriptor (DoSaveIntoBuffer). Returns the bytes written.
    int SaveIntoBuffer(CBuffer &out) const;
    virtual int DoSaveIntoBuffer(CBuffer &) const { return 0; }

    // --- owner, identity and place --------------------------------------
    CArcTFDFormat *GetFormat() const { return m_pFormat; }
    void SetFormat(CArcTFDFormat *format) { m_pFormat = format; }
    const CArcTFDFormatHdrPeeker *GetFormatHdrPeeker() const;
    CArcTFDDrawableFieldMeta *GetFieldMetaObject() const;
    Id_t GetId() const { return m_Id; }
    void SetId(Id_t id) { m_Id = id; }
    void GenerateNewId();
    int GetRow() const { return m_nRow; }
    int GetColumn() const { return m_nColumn; }
    int SetRow(int row) { return RepositionField(row, m_nColumn); }
    int SetColumn(int column) { return RepositionField(m_nRow, column); }
    int RepositionField(int row, int column);
    // Whether a field of this length fits at (row, column) of the format:
    // inside the screen and ending before the next field on that row.
    int CheckFieldPosition(int row, int column) const;
    CArcTFDColor GetRawColor() const { return m_Color; }   // undefined when none

    // --- attributes --------------------------------------------------------
    bool IsProtected() const { return m_bProtected; }
    void SetProtected(bool on) { m_bProtected = on; }
    bool IsTabStop() const { return m_bTabStop; }
    void SetTabStop(bool on) { m_bTabStop = on; }
    bool IsBlinking() const { return m_bBlinking; }
    void SetBlinking(bool on) { m_bBlinking = on; }
    bool IsChanged() const { return m_bChanged; }
    bool IsNumericBlankWhenBlank() const { return m_bNumericBlankWhenBlank; }
    bool IsRuntimeField() const { return m_bRuntime; }

    const VectorOfSFSIndData_t &GetSFSIndData() const { return m_SFSIndData; }
    void SetSFSIndData(const VectorOfSFSIndData_t &list) { m_SFSIndData = list; }
    const SafeString &GetHelpId() const { return m_strHelpId; }
    void SetHelpId(const SafeString &id) { m_strHelpId = id; }
    int GetCursorEndPosOffset() const { return m_nCursorEndOffset; }
    void SetCursorEndPosOffset(int offset) { m_nCursorEndOffset = offset; }

    // --- HTML settings (conversion leaves them at their defaults) -------
    int GetHtmlType() const { return m_nHtmlType; }
    void SetHtmlType(int type) { m_nHtmlType = type; }
    const SafeString &GetHtmlName() const { return m_strHtmlName; }
    void SetHtmlName(const SafeString &s) { m_strHtmlName = s; }
    const SafeString &GetHtmlDescription() const { return m_strHtmlDescription; }
    void SetHtmlDescription(const SafeString &s) { m_strHtmlDescription = s; }
    const std::vector<SafeString> &GetHtmlComboValues() const { return m_HtmlComboValues; }
    void SetHtmlComboValues(const std::vector<SafeString> &v) { m_HtmlComboValues = v; }
    bool GetHtmlAutolabel() const { return m_bAutolabel; }
    void SetHtmlAutolabel(bool on) { m_bAutolabel = on; }
    const SafeString &GetHtmlClass() const { return m_strHtmlClass; }
    void SetHtmlClass(const SafeString &s) { m_strHtmlClass = s; }
    bool GetKeepWithNext() const { return m_bKeepWithNext; }
    void SetKeepWithNext(bool on) { m_bKeepWithNext = on; }
    bool GetNewTableCell() const { return m_bNewTableCell; }
    void SetNewTableCell(bool on) { m_bNewTableCell = on; }
    bool GetBeginDetail() const { return m_bBeginDetail; }
    void SetBeginDetail(bool on) { m_bBeginDetail = on; }
    bool GetEndDetail() const { return m_bEndDetail; }
    void SetEndDetail(bool on) { m_bEndDetail = on; }
    bool GetPassword() const { return m_bPassword; }
    void SetPassword(bool on) { m_bPassword = on; }

    // Foreground and background of the field's colour in the format's
    // colour table, as RGB; 0 without a table.
    uint32_t GetFgRGBColor() const;
    uint32_t GetBgRGBColor() const;

protected:
    // Copies what assignment copies (see Clone).
    CArcTFDDrawableField(const CArcTFDDrawableField &o);
    CArcTFDDrawableField &operator=(const CArcTFDDrawableField &) = delete;

    // The colour byte of a host descriptor.
    uint8_t DescriptorColor() const { return static_cast<uint8_t>(GetColor().GetMcsColor() & 0x0F); }
    // A descriptor's b0 holds at most 127 columns (its top bit names other
    // kinds): the columns past that go first as continued descriptors, which
    // the reader adds to the next one. Leaves the b0 in length; returns the
    // bytes written.
    static int SaveContinued(CBuffer &out, int &length);

    SafeString m_strText;

private:
    static CArcCountId sm_CountIdSeq;

    CArcTFDFormat *m_pFormat = nullptr;      // not owned
    Id_t m_Id;
    int m_nRow = 0, m_nColumn = 0;
    int m_nLength = 0;
    bool m_bBlinking = false, m_bChanged = false, m_bNumericBlankWhenBlank = false;
    bool m_bRuntime = false, m_bTabStop = false, m_bProtected = false;
    CArcTFDColor m_Color;
    VectorOfSFSIndData_t m_SFSIndData;
    SafeString m_strHelpId;
    int m_nCursorEndOffset = -1;
    int m_nHtmlType = HtmlNone;
    SafeString m_strHtmlName, m_strHtmlDescription, m_strHtmlClass;
    std::vector<SafeString> m_HtmlComboValues;
    bool m_bAutolabel = false, m_bKeepWithNext = false, m_bNewTableCell = true;
    bool m_bBeginDetail = false, m_bEndDetail = false, m_bPassword = false;
};

#endif
