// Field types, names and pictures.
#include "ArcTFDFieldMeta.h"

#include <cstdio>
#include <cstring>

#include "ArcTFDDataField.h"
#include "ArcTFDHeadingField.h"
#include "ArcTFDSecurityField.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

SafeString Numbered(const char *prefix, int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%03d", prefix, n);
    return text;
}

// ch, or ch(len) for a length of two or more.
SafeString LetterAndLength(char ch, int len) {
    SafeString out(1u, ch);
    if (len >= 2) out += "(" + std::to_string(len) + ")";
    return out;
}

}  // namespace

bool CArcTFDDrawableFieldMeta::IsAlphanumericCharacter(char c) {
    return c != '\0' && std::strchr("ABEFGHLNORSUX", Upper(c)) != nullptr;
}

bool CArcTFDDrawableFieldMeta::IsNumericCharacter(char c) { return c == '9' || c == '2' || c == 'Z' || c == 'z'; }

CArcTFDDrawableFieldMeta::FieldType_t CArcTFDDrawableFieldMeta::GetType(const CArcTFDDrawableField *field) {
    return field ? field->GetFieldType() : CArcTFDDrawableField::TypeNone;
}

SafeString CArcTFDDrawableFieldMeta::GetFieldNameCStyle(const CArcTFDDrawableField *field, int n) {
    if (!field || field->GetHtmlName().empty()) return Numbered("field_", n);
    SafeString name = field->GetHtmlName();
    for (char &c : name)
        if (!IsAsciiAlnum(c)) c = '_';
    return name;
}

SafeString CArcTFDDrawableFieldMeta::GetFieldNameCobolStyle(const CArcTFDDrawableField *field, int n) {
    if (!field || field->GetHtmlName().empty()) return Numbered("FIELD-", n);
    SafeString name = field->GetHtmlName();
    for (char &c : name) c = IsAsciiAlnum(c) ? Upper(c) : '-';
    return name;
}

SafeString CArcTFDDrawableFieldMeta::GetFieldPicAX9(const CArcTFDDrawableField *field) {
    if (!field || field->GetHtmlType() == CArcTFDDrawableField::HtmlSkip3) return SafeString();
    const SafeString text = field->GetText();
    const int len = field->GetLength();
    if (text.empty()) return SafeString();
    switch (GetType(field)) {
    case CArcTFDDrawableField::TypeData: {
        char ch = text[0];
        if (std::strchr("BFGHLNORS", ch)) ch = 'U';   // colour letters
        return LetterAndLength(ch, len);
    }
    case CArcTFDDrawableField::TypeNumeric: {
        // The digits the mask shows, not the field's screen length (a host
        // mask may be padded).
        const CArcTFDEditMask &mask = static_cast<const CArcTFDNumericField *>(field)->GetEditMask();
        const int digits = mask.GetNumberOfDigits();
        if (len < 1 || digits < 1) return SafeString();
        if (text.find_first_not_of(text[0]) == std::string::npos) return LetterAndLength(text[0], digits);
        return GetEditMaskPic(mask, mask.StripEditMaskText());
    }
    default: return SafeString();
    }
}

SafeString CArcTFDDrawableFieldMeta::GetEditMaskPic(const CArcTFDEditMask &mask, const SafeString &text) {
    SafeString out;
    if (mask.GetWhenNegative() != CArcTFDEditMask::NegNone) out += 'S';
    if (mask.GetFloatingCurrency()) out += '$';
    for (size_t at = 0; at < text.size();) {
        size_t run = 1;
        while (at + run < text.size() && text[at + run] == text[at]) ++run;
        // Only digit positions: the field file's reader repeats nothing else.
        if (run < 4 || !CArcTFDEditMask::IsEditMaskDigitCharacter(text[at]))
            out.append(run, text[at]);
        else
            out += SafeString(1u, text[at]) + "(" + std::to_string(run) + ")";
        at += run;
    }
    return out;
}

SafeString CArcTFDDrawableFieldMeta::GetFieldPic(const CArcTFDDrawableField *field) {
    const int len = field ? field->GetLength() : 0;
    switch (GetType(field)) {
    case CArcTFDDrawableField::TypeData: return "X(" + std::to_string(len) + ")";
    case CArcTFDDrawableField::TypeNumeric: {
        const CArcTFDEditMask &mask = static_cast<const CArcTFDNumericField *>(field)->GetEditMask();
        const SafeString &s = mask.StripEditMaskText();
        if (!s.empty() && (s.find_first_not_of('9') == std::string::npos || s.find_first_not_of('Z') == std::string::npos))
            return "9(" + std::to_string(len) + ")";
        SafeString out = mask.GetWhenNegative() != CArcTFDEditMask::NegNone ? "S" : "";
        const int digits = mask.GetNumberOfDigits(), decimals = mask.GetDecimalPoint();
        if (digits > decimals) out += "9(" + std::to_string(digits - decimals) + ")";
        if (decimals > 0) out += "V9(" + std::to_string(decimals) + ")";
        return out;
    }
    default: return SafeString();
    }
}

int CArcTFDDrawableFieldMeta::IsParenLenShortcut(const SafeString &text, int *n) {
    if (n) *n = 0;
    if (text.size() <= 3 || text[1] != '(' || text.back() != ')') return 0;
    long value = 0;
    for (size_t k = 2; k + 1 < text.size(); ++k) {
        if (text[k] < '0' || text[k] > '9') return 0;
        value = value * 10 + (text[k] - '0');
        if (value > 0xFFFF) return 0;    // no screen field is that long
    }
    if (value <= 0) return 0;
    const char first = Upper(text[0]);
    const int type = IsAlphanumericCharacter(first) ? 2 : IsNumericCharacter(first) ? 4 : 0;
    if (type && n) *n = static_cast<int>(value);
    return type;
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDDrawableFieldMeta::ExpandParenLenShortcut(const SafeString &text) {
    int n = 0;
    const int type = IsParenLenShortcut(text, &n);
    if (!type) return nullptr;
    std::unique_ptr<CArcTFDDrawableField> field = CreateField(type, nullptr);
    field->SetText(SafeString(1u, text[0]));
    field->SetLength(n);
    return field;
}

CArcTFDDrawableFieldMeta::FieldType_t CArcTFDDrawableFieldMeta::GetTypeFromText(const SafeString &text) {
    if (text.empty()) return CArcTFDDrawableField::TypeData;
    int n = 0;
    if (const int type = IsParenLenShortcut(text, &n)) return static_cast<FieldType_t>(type);
    if (text.size() == 1 && std::strchr("ABFGHLNORSUX", Upper(text[0]))) return CArcTFDDrawableField::TypeData;
    if (text.find_first_not_of("Ee") == std::string::npos) return CArcTFDDrawableField::TypeError;
    for (int t = 1; t <= 8; ++t)
        if (text == CArcTFDSpecialField::GetToken(t)) return CArcTFDDrawableField::TypeSpecial;
    CArcTFDEditMask mask;
    if (mask.SetEditMaskText(text, 1)) return CArcTFDDrawableField::TypeNumeric;
    if (CArcTFDSecurityField::ParseSecurityText(text, nullptr, nullptr)) return CArcTFDDrawableField::TypeSecurity;
    return CArcTFDDrawableField::TypeHeading;
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDDrawableFieldMeta::CreateField(int type, const CArcTFDDrawableField *old) {
    std::unique_ptr<CArcTFDDrawableField> field;
    if (old && GetType(old) == type) {
        field = old->Clone();
    } else {
        using D = CArcTFDDataErrorField;
        switch (type) {
        case CArcTFDDrawableField::TypeHeading:
            field.reset(new CArcTFDHeadingTextField(nullptr, m_pFormat));
            break;
        case CArcTFDDrawableField::TypeData:
            field.reset(new CArcTFDDataField(nullptr, m_pFormat, D::TypeNoneGiven, D::kNoColor, SafeString()));
            break;
        case CArcTFDDrawableField::TypeError:
            field.reset(new CArcTFDErrorField(nullptr, m_pFormat, D::kNoColor));
            break;
        case CArcTFDDrawableField::TypeNumeric:
            field.reset(new CArcTFDNumericField(nullptr, m_pFormat, SafeString()));
            break;
        case CArcTFDDrawableField::TypeSpecial:
            field.reset(new CArcTFDSpecialField(nullptr, m_pFormat, CArcTFDSpecialField::SpecialNone));
            break;
        case CArcTFDDrawableField::TypeSecurity:
            field.reset(new CArcTFDSecurityField(nullptr, m_pFormat));
            break;
        default: return nullptr;
        }
        if (old) {
            field->SetId(old->GetId());
            field->SetText(old->GetText());
            field->RepositionField(old->GetRow(), old->GetColumn());
            field->SetSFSIndData(old->GetSFSIndData());
        }
    }
    field->SetFormat(m_pFormat);
    return field;
}
