// Escaping of text written into converted pages.
#include "ArcTFDHtmlText.h"

namespace arc_html {

std::string Escaped(const std::string &text, bool hostText, bool quotes) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            out += ' ';
        else if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '\\' && hostText)
            out += "&#92;";
        else if (c == '"' && quotes)
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

}  // namespace arc_html
