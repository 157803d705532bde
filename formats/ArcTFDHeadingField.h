// Constant text on a converted screen: headings (text, repeated characters,
// blank runs) and special fields, whose text is the token of a system value
// (date, time, user, terminal, format or transaction name) that the page
// fills in.
#ifndef QOR_ARCTFDHEADINGFIELD_H
#define QOR_ARCTFDHEADINGFIELD_H

#include "ArcTFDDrawableField.h"

class CArcMcsHeadingTextField;

class CArcTFDHeadingTextField : public CArcTFDDrawableField {
public:
    // From a host heading (its text, so its length is the text's), or
    // without one (protected, empty).
    CArcTFDHeadingTextField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeHeading; }
    const char *GetAutomationFieldType() const override { return "headingtextfield"; }
    // By HTML type: 1 "TITLE", 7 none, 9 "XMIT", any other "HEADING".
    SafeString GetDefaultHtmlClass() const override;
    // The text in pieces of at most 63 characters, each as [length]
    // [attribute][colour][text]; attribute 0x13 plus 0x80 protected and
    // 0x40 tab stop.
    int DoSaveIntoBuffer(CBuffer &out) const override;

protected:
    // From any host field, with the given text (protected when there is no
    // host field).
    CArcTFDHeadingTextField(const CArcMcsField *host, CArcTFDFormat *format, const SafeString &text);
    CArcTFDHeadingTextField(const CArcTFDHeadingTextField &o);
};

class CArcTFDSpecialField : public CArcTFDHeadingTextField {
public:
    enum SpecialType_t : int {
        SpecialNone = 0, MonthDayYear = 1, DayMonthYear = 2, YearMonthDay = 3, HourMinute = 4,
        UserId = 5, TerminalId = 6, FormatName = 7, TransactionId = 8,
    };

    CArcTFDSpecialField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format, SpecialType_t type);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    FieldType_t GetFieldType() const override { return TypeSpecial; }
    const char *GetAutomationFieldType() const override { return "specialfield"; }
    SafeString GetDefaultHtmlClass() const override { return "SPECIAL"; }
    // The placeholder of the system value the page fills in ("\{pib.date}").
    void WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const override;
    static const char *GetPlaceholder(int type);

    SpecialType_t GetSpecialType() const { return m_eSpecialType; }
    // Stores the type; the text becomes its token ("$HHMM"), the length the
    // token's length; a type without a token gives empty text.
    void SetSpecialType(SpecialType_t type);
    // Takes the type whose token equals the text (any case), else type 0.
    void SetText(const SafeString &text) override;
    static SpecialType_t GetSpecialTypeFromText(const SafeString &text);
    // "$MMDDYY$", "$DDMMMYY$", "$YYMMDD$", "$HHMM", "$USERID$", "$TID",
    // "$FRMTID$", "$TRANID$" for types 1 to 8; null for others.
    static const char *GetToken(int type);
    // Two descriptor bytes (length, 0x80 + host kind code) and the colour.
    int DoSaveIntoBuffer(CBuffer &out) const override;

private:
    SpecialType_t m_eSpecialType = SpecialNone;
};

// The tokens of the special types.
extern const char g_sS_MMDDYY_S[];
extern const char g_sS_DDMMMYY_S[];
extern const char g_sS_YYMMDD_S[];
extern const char g_sS_HHMM_S[];
extern const char g_sS_USERID_S[];
extern const char g_sS_TID_S[];
extern const char g_sS_FRMTID_S[];
extern const char g_sS_TRANID_S[];

#endif
