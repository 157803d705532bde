// CArcTFDDrawableFieldMeta: what the writers need to know about a form
// field beyond the field itself: its type, its name in the page and the
// field file (field_NNN by ordinal), its picture (the field file's mask),
// and a small factory of fields by type.
#ifndef QOR_ARCTFDFIELDMETA_H
#define QOR_ARCTFDFIELDMETA_H

#include <memory>

#include "ArcTFDDrawableField.h"
#include "ArcTFDEditMask.h"
#include "SafeString.h"

class CArcTFDFormat;

class CArcTFDDrawableFieldMeta {
public:
    using FieldType_t = CArcTFDDrawableField::FieldType_t;

    explicit CArcTFDDrawableFieldMeta(CArcTFDFormat *format) : m_pFormat(format) {}
    CArcTFDFormat *GetFormat() const { return m_pFormat; }

    // Picture letters A B E F G H L N O R S U X (either case) and digits
    // 9 2 Z z.
    static bool IsAlphanumericCharacter(char c);
    static bool IsNumericCharacter(char c);

    // 0 none, 1 heading, 2 data, 3 error, 4 numeric, 5 special, 6 security.
    static FieldType_t GetType(const CArcTFDDrawableField *field);

    // The field's own HTML name with every character other than a letter or
    // digit as '_', else "field_" and n with at least three digits.
    static SafeString GetFieldNameCStyle(const CArcTFDDrawableField *field, int n);
    // The same in upper case with '-', else "FIELD-" and n (three digits).
    static SafeString GetFieldNameCobolStyle(const CArcTFDDrawableField *field, int n);

    // The field file's mask: data fields a letter and the length ("U(5)",
    // "X"; colour letters become U), numeric fields their repeated digit
    // and length ("9(4)") or their edit mask with runs of four or more
    // shortened ("SZ(5)9.99"); empty for other fields and HTML type 3.
    static SafeString GetFieldPicAX9(const CArcTFDDrawableField *field);
    // The picture of an edit mask with the given normalised text: "S" when
    // it shows a sign, "$" for a floating currency, then the text with runs
    // of four or more shortened ("SZ(5)9.99").
    static SafeString GetEditMaskPic(const CArcTFDEditMask &mask, const SafeString &text);
    // A COBOL picture: "X(n)", "9(n)", or "S9(i)V9(d)" from the edit mask.
    static SafeString GetFieldPic(const CArcTFDDrawableField *field);

    // "X(12)" gives 2 (data) and 12, "9(3)" 4 (numeric) and 3; 0 and 0 for
    // any other text.
    static int IsParenLenShortcut(const SafeString &text, int *n);
    // A new field for such a shortcut, with its letter and length; else null.
    std::unique_ptr<CArcTFDDrawableField> ExpandParenLenShortcut(const SafeString &text);
    // The field type a designer's text stands for.
    static FieldType_t GetTypeFromText(const SafeString &text);

    // A field of the type: a clone of old when old has that type, else a new
    // one (heading; data without type; error; numeric "99999"; special
    // without type; security level 50), which takes old's id, text, place
    // and SFS settings when old is given. Null for other types.
    std::unique_ptr<CArcTFDDrawableField> CreateField(int type, const CArcTFDDrawableField *old);

private:
    CArcTFDFormat *m_pFormat;       // not owned
};

#endif
