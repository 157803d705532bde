// Edit masks of numeric fields: display forms and the mask parser.
#include "ArcTFDEditMask.h"

#include <algorithm>
#include <cstring>

namespace {

bool StartsWith(const std::string &s, const char *p) { return s.compare(0, std::strlen(p), p) == 0; }

bool EndsWith(const std::string &s, const char *p) {
    const size_t n = std::strlen(p);
    return s.size() >= n && s.compare(s.size() - n, n, p) == 0;
}

// Text before and after the mask for each sign mode, and their blank forms.
struct SignShape {
    const char *front, *back, *frontSave, *backSave;
};
const SignShape kShapes[] = {
    {"-", "", " ", ""},     // leading minus
    {"", "-", "", " "},     // trailing minus
    {"", "CR", "", "  "},   // CR
    {"", "DB", "", "  "},   // DB
    {"(", ")", " ", " "},   // parentheses
    {"", "", "", ""},       // none
};

const SignShape &ShapeOf(int mode) { return kShapes[mode >= 0 && mode <= 5 ? mode : 5]; }

}  // namespace

bool CArcTFDEditMask::IsEditMaskCharacter(char c) {
    return c != '\0' && std::strchr("Z92,.:/", c) != nullptr;
}

SafeString CArcTFDEditMask::GetEditMaskText() const {
    const SignShape &s = ShapeOf(m_eWhenNegative);
    SafeString out = m_bFloatingCurrency ? "$" : "";
    return out + s.front + m_strMask + s.back;
}

SafeString CArcTFDEditMask::GetEditMaskTextForSave() const {
    const SignShape &s = ShapeOf(m_eWhenNegative);
    SafeString out = m_bFloatingCurrency ? "$" : "";
    return out + s.frontSave + m_strMask + s.backSave;
}

int CArcTFDEditMask::GetNumberOfDigits() const {
    return static_cast<int>(std::count_if(m_strMask.begin(), m_strMask.end(), IsEditMaskDigitCharacter));
}

bool CArcTFDEditMask::IsSimpleEditMask() const {
    if (m_strMask.empty()) return true;
    const char first = m_strMask[0];
    return IsEditMaskDigitCharacter(first) &&
           m_strMask.find_first_not_of(first) == std::string::npos;
}

void CArcTFDEditMask::SetBlankWhenBlank(int on) {
    m_bBlankWhenBlank = on ? 1 : 0;
    const char from = on ? '9' : '2', to = on ? '2' : '9';
    std::replace(m_strMask.begin(), m_strMask.end(), from, to);
}

void CArcTFDEditMask::SetDecimalPoint(int n) {
    n = std::clamp(n, 0, GetMaxDecPoint());
    m_nDecimalPoint = n;
    const size_t point = m_strMask.rfind('.');
    if (point != std::string::npos) m_strMask.erase(point);
    if (n > 0) {
        m_strMask += '.';
        m_strMask.append(static_cast<size_t>(n), GetCurrentDigitType());
    }
}

int CArcTFDEditMask::SetEditMaskText(const SafeString &text, int checkParentheses) {
    m_strMask = text;
    if (text.empty()) return 0;
    std::string t = text;
    const char *blanks = " \t\n\r";
    t.erase(0, t.find_first_not_of(blanks));
    t.erase(t.find_last_not_of(blanks) + 1);
    for (char &c : t)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

    m_bFloatingCurrency = 0;
    m_eWhenNegative = NegNone;
    size_t p = 0, s = 0;   // first place after a leading "$", after a leading sign
    if (!t.empty() && t[0] == '$') {
        m_bFloatingCurrency = 1;
        p = 1;
    }
    bool valid = true;
    if (t.size() > 1) {
        const bool openAtP = p < t.size() && t[p] == '(';
        if (p < t.size() && t[p] == '-') {
            m_eWhenNegative = NegLeadingMinus;
            s = p + 1;
        }
        if (t.back() == '-') m_eWhenNegative = NegTrailingMinus;
        if (openAtP || t.back() == ')') {
            m_eWhenNegative = NegParentheses;
            s = p + 1;
        }
        if (EndsWith(t, "CR")) m_eWhenNegative = NegCR;
        if (EndsWith(t, "DB")) m_eWhenNegative = NegDB;
        if (s < t.size() && t[s] == '$') m_bFloatingCurrency = 1;
        if (checkParentheses && openAtP != (t.back() == ')')) valid = false;
    }

    // Take the currency and sign off, each only while more than two
    // characters are left.
    auto front = [&t](const char *p) {
        if (t.size() > 2 && StartsWith(t, p)) t.erase(0, std::strlen(p));
    };
    auto back = [&t](const char *p) {
        if (t.size() > 2 && EndsWith(t, p)) t.erase(t.size() - std::strlen(p));
    };
    front("$");
    front("-");
    back("-");
    front("(");
    back(")");
    back("CR");
    back("DB");
    front("$");

    for (char &c : t)
        if (!IsEditMaskCharacter(c)) {
            c = '?';
            valid = false;
        }
    if (valid && std::none_of(t.begin(), t.end(), IsEditMaskDigitCharacter)) valid = false;
    m_strMask = t;

    if (m_bBlankWhenBlank && t.find('9') != std::string::npos)
        SetBlankWhenBlank(0);
    else if (!m_bBlankWhenBlank && t.find('2') != std::string::npos)
        SetBlankWhenBlank(1);

    int decimals = 0;
    const size_t point = m_strMask.rfind('.');
    if (point != std::string::npos)
        for (size_t k = point + 1; k < m_strMask.size() && (m_strMask[k] == '9' || m_strMask[k] == '2'); ++k)
            ++decimals;
    SetDecimalPoint(std::min(decimals, GetMaxDecPoint()));
    return valid ? 1 : 0;
}
