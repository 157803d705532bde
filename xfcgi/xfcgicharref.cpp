// Numeric character references in posted values: what is one, which a
// refusal names, and how a refused form shows them again.
#include "xfcgicharref.h"

#include <algorithm>
#include <cctype>

#include "xfcgiout.h"

size_t xFcgiCharRef(std::string_view text, long &code)
{
    if (text.size() < 4 || text[0] != '&' || text[1] != '#') return 0;
    size_t i = 2;
    const bool hex = text[i] == 'x' || text[i] == 'X';
    if (hex) ++i;
    const size_t digits = i;
    long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && std::isxdigit(c))
            d = std::tolower(c) - 'a' + 10;
        else
            break;
        // Held at the bound: no digit count can overflow.
        value = std::min(value * (hex ? 16 : 10) + d, xFcgiBeyondUnicode);
    }
    if (i == digits || i == text.size() || text[i] != ';') return 0;
    code = value;
    return i + 1;
}

bool xFcgiRefusedRef(long code, bool latin1)
{
    return !latin1 || !((code >= 0x20 && code <= 0x7E) || (code >= 0xA0 && code <= 0xFF));
}

bool xFcgiShowableCode(long code)
{
    if (code < 0x20 || (code >= 0x7F && code <= 0x9F)) return false;
    if (code >= 0xD800 && code <= 0xDFFF) return false;
    if ((code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE) return false;
    return code < xFcgiBeyondUnicode;
}

bool xFcgiIsLatin1Name(std::string_view name)
{
    std::string key;
    for (char c : name)
        if (c != '-' && c != '_' && c != ' ')
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const char *alias : {"ISO88591", "LATIN1", "L1", "ISOIR100", "CP819", "IBM819", "ISO885911987"})
        if (key == alias) return true;
    return false;
}

void xFcgiEscapeTyped(std::string_view value, bool latin1, std::string &out)
{
    size_t from = 0;  // the start of the text not yet written
    for (size_t at = value.find("&#"); at != std::string_view::npos; at = value.find("&#", at + 1)) {
        long code = 0;
        const size_t length = xFcgiCharRef(value.substr(at), code);
        if (length == 0 || !xFcgiRefusedRef(code, latin1) || !xFcgiShowableCode(code)) continue;
        xFcgiEscapeData(value.substr(from, at - from), out);
        // Only "&#", digits and ";": nothing the user sent is written as it is.
        out += "&#";
        out += std::to_string(code);
        out += ';';
        from = at + length;
        at = from - 1;
    }
    xFcgiEscapeData(value.substr(from), out);
}
