// Headings and special fields.
#include "ArcTFDHeadingField.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

#include "ArcMcsField.h"
#include "ZelBuffer.h"

const char g_sS_MMDDYY_S[] = "$MMDDYY$";
const char g_sS_DDMMMYY_S[] = "$DDMMMYY$";
const char g_sS_YYMMDD_S[] = "$YYMMDD$";
const char g_sS_HHMM_S[] = "$HHMM";
const char g_sS_USERID_S[] = "$USERID$";
const char g_sS_TID_S[] = "$TID";
const char g_sS_FRMTID_S[] = "$FRMTID$";
const char g_sS_TRANID_S[] = "$TRANID$";

namespace {

struct SpecialEntry {
    const char *token;
    uint8_t hostKind;    // the host descriptor's kind code
};
const SpecialEntry kSpecials[9] = {
    {nullptr, 0},
    {g_sS_MMDDYY_S, CArcMcsField::MonthDayYear},
    {g_sS_DDMMMYY_S, CArcMcsField::DayMonthYear},
    {g_sS_YYMMDD_S, CArcMcsField::YearMonthDay},
    {g_sS_HHMM_S, CArcMcsField::HourMinute},
    {g_sS_USERID_S, CArcMcsField::UserId},
    {g_sS_TID_S, CArcMcsField::TerminalId},
    {g_sS_FRMTID_S, CArcMcsField::FormatName},
    {g_sS_TRANID_S, CArcMcsField::TransactionId},
};

}  // namespace

CArcTFDHeadingTextField::CArcTFDHeadingTextField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format)
    : CArcTFDHeadingTextField(host, format, host ? host->GetText() : SafeString()) {}

CArcTFDHeadingTextField::CArcTFDHeadingTextField(const CArcMcsField *host, CArcTFDFormat *format,
                                                 const SafeString &text)
    : CArcTFDDrawableField(host, format) {
    if (host)
        CArcTFDHeadingTextField::SetText(text);
    else
        SetProtected(true);
}

CArcTFDHeadingTextField::CArcTFDHeadingTextField(const CArcTFDHeadingTextField &o) : CArcTFDDrawableField(o) {
    m_strText = o.m_strText;
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDHeadingTextField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDHeadingTextField(*this));
}

int CArcTFDHeadingTextField::DoSaveIntoBuffer(CBuffer &out) const {
    const SafeString text = GetText();
    const auto attribute = static_cast<uint8_t>((IsProtected() ? 0x90 : 0x10) + (IsTabStop() ? 0x40 : 0) + 3);
    int n = 0;
    for (size_t at = 0; at < text.size(); at += 63) {
        const size_t piece = std::min<size_t>(63, text.size() - at);
        out << static_cast<uint8_t>(piece) << attribute << DescriptorColor();
        out.AddChars(text.data() + at, static_cast<int>(piece));
        n += 3 + static_cast<int>(piece);
    }
    return n;
}

CArcTFDSpecialField::CArcTFDSpecialField(const CArcMcsHeadingTextField *host, CArcTFDFormat *format,
                                         SpecialType_t type)
    : CArcTFDHeadingTextField(host, format) {
    SetSpecialType(type);
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDSpecialField::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDSpecialField(*this));
}

const char *CArcTFDSpecialField::GetToken(int type) {
    return type >= 1 && type <= 8 ? kSpecials[type].token : nullptr;
}

void CArcTFDSpecialField::SetSpecialType(SpecialType_t type) {
    m_eSpecialType = type;
    const char *token = GetToken(type);
    CArcTFDHeadingTextField::SetText(token ? token : "");
}

CArcTFDSpecialField::SpecialType_t CArcTFDSpecialField::GetSpecialTypeFromText(const SafeString &text) {
    for (int t = 1; t <= 8; ++t)
        if (strcasecmp(text.c_str(), kSpecials[t].token) == 0 && std::strlen(kSpecials[t].token) == text.size())
            return static_cast<SpecialType_t>(t);
    return SpecialNone;
}

void CArcTFDSpecialField::SetText(const SafeString &text) { SetSpecialType(GetSpecialTypeFromText(text)); }

int CArcTFDSpecialField::DoSaveIntoBuffer(CBuffer &out) const {
    if (!GetToken(m_eSpecialType)) return 0;
    out << static_cast<uint8_t>(GetLength()) << static_cast<uint8_t>(0x80 + kSpecials[m_eSpecialType].hostKind)
        << DescriptorColor();
    return 3;
}
