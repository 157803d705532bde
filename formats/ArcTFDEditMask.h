// CArcTFDEditMask: how a numeric field of a host screen shows its value.
// The mask is kept normalised (digit positions "Z", "9" or "2" and the
// punctuation ",.:/" only); the floating currency sign and the sign shown
// for negative values are separate settings, put back by GetEditMaskText.
//
// "Z" is a zero-suppressed digit position, "9" a digit position and "2" a
// digit position of a blank-when-blank mask (every digit of such a mask is
// "2" rather than "9").
#ifndef QOR_ARCTFDEDITMASK_H
#define QOR_ARCTFDEDITMASK_H

#include "SafeString.h"

class CArcTFDEditMask {
public:
    // Sign shown for a negative value.
    enum EMNegative_t : int {
        NegLeadingMinus = 0,    // -ZZ9
        NegTrailingMinus = 1,   // ZZ9-
        NegCR = 2,              // ZZ9CR
        NegDB = 3,              // ZZ9DB
        NegParentheses = 4,     // (ZZ9)
        NegNone = 5,            // no sign (the default)
    };

    static bool IsEditMaskDigitCharacter(char c) { return c == 'Z' || c == '9' || c == '2'; }
    static bool IsEditMaskCharacter(char c);
    static int GetMaxDecPoint() { return 15; }

    // The displayed mask: "$" when the currency floats, then the mask with
    // its sign ("-ZZ9", "ZZ9-", "ZZ9CR", "ZZ9DB", "(ZZ9)" or "ZZ9").
    SafeString GetEditMaskText() const;
    // The same layout with blanks in place of the sign characters.
    SafeString GetEditMaskTextForSave() const;
    // The normalised mask.
    const SafeString &StripEditMaskText() const { return m_strMask; }
    // Takes a normalised mask as it stands (a host field's own mask).
    void SetStrippedText(const SafeString &mask) { m_strMask = mask; }

    int GetNumberOfDigits() const;
    int GetCobolLength() const { return GetNumberOfDigits(); }
    // Every character is the same digit character ("99999"); empty counts.
    bool IsSimpleEditMask() const;

    EMNegative_t GetWhenNegative() const { return m_eWhenNegative; }
    void SetWhenNegative(EMNegative_t mode) { m_eWhenNegative = mode; }
    int GetFloatingCurrency() const { return m_bFloatingCurrency; }
    void SetFloatingCurrency(int on) { m_bFloatingCurrency = on ? 1 : 0; }
    int GetDecimalPoint() const { return m_nDecimalPoint; }
    int GetBlankWhenBlank() const { return m_bBlankWhenBlank; }
    // Stores the flag and rewrites the digit positions: "9" to "2" when on,
    // "2" to "9" when off.
    void SetBlankWhenBlank(int on);
    char GetCurrentDigitType() const { return m_bBlankWhenBlank ? '2' : '9'; }
    // Rebuilds the part after the last "." with n digit positions (none,
    // and no point, for n <= 0; at most 15).
    void SetDecimalPoint(int n);

    // Parses a displayed mask such as "$ZZ,ZZ9.99-"; 1 when it is valid.
    // With checkParentheses an unbalanced "(" or ")" makes it invalid.
    // The mask keeps what the parse left, also when it is invalid.
    int SetEditMaskText(const SafeString &text, int checkParentheses);

private:
    SafeString m_strMask;
    EMNegative_t m_eWhenNegative = NegNone;
    int m_bFloatingCurrency = 0;
    int m_bBlankWhenBlank = 0;
    int m_nDecimalPoint = 0;
};

#endif
