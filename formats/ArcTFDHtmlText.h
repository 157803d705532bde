// Text written into converted pages.
#ifndef QOR_ARCTFDHTMLTEXT_H
#define QOR_ARCTFDHTMLTEXT_H

#include <string>

namespace arc_html {

// Text for a page: control characters as blanks, & < > as entities; with
// hostText also the backslash as "&#92;" (it would otherwise open a
// template placeholder), with quotes '"' as "&quot;" (attribute values).
std::string Escaped(const std::string &text, bool hostText = true, bool quotes = true);

// indent blanks, the text and a line feed.
inline void Line(std::string &out, int indent, const std::string &text) {
    if (indent > 0) out.append(static_cast<size_t>(indent), ' ');
    out += text;
    out += '\n';
}

}  // namespace arc_html

#endif
