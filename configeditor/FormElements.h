// Writers of the configuration form's inputs. Each line they write starts
// with `indent` blanks; a size or maximum length below 0 is left out.
// String values are HTML-escaped (the browser posts the original text
// back); integers are written in decimal.
#ifndef QOR_FORMELEMENTS_H
#define QOR_FORMELEMENTS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "xfcgiout.h"

// The text as a page shows it: & < > " escaped.
inline std::string Html(std::string_view text) {
    std::string out;
    xFcgiEscapeData(text, out);
    return out;
}

namespace formdetail {
inline void PutValue(std::ostream &out, std::string_view value) { out << Html(value); }
inline void PutValue(std::ostream &out, const std::string &value) { out << Html(value); }
inline void PutValue(std::ostream &out, const char *value) { out << Html(value ? value : ""); }
inline void PutValue(std::ostream &out, int32_t value) { out << value; }
inline std::string Pad(int indent) { return std::string(indent > 0 ? indent : 0, ' '); }
}  // namespace formdetail

// <input type= id= name= [size=] [maxlength=] value= [extra]>
template <class Value>
void ShowInputElement(std::ostream &out, int indent, std::string_view type, std::string_view name,
                      int size, const Value &value, std::string_view extra, int maxlength) {
    const std::string pad = formdetail::Pad(indent);
    out << pad << "<input\n";
    out << pad << "    type=\"" << type << "\"\n";
    out << pad << "    id=\"" << name << "\"\n";
    out << pad << "    name=\"" << name << "\"\n";
    if (size >= 0) out << pad << "    size=\"" << size << "\"\n";
    if (maxlength >= 0) out << pad << "    maxlength=\"" << maxlength << "\"\n";
    out << pad << "    value=\"";
    formdetail::PutValue(out, value);
    out << "\"";
    if (!extra.empty())
        out << " " << extra << "\n>\n";
    else
        out << ">\n";
}

template <class Value>
void ShowTextInputElement(std::ostream &out, int indent, std::string_view name, int size,
                          const Value &value, int maxlength) {
    ShowInputElement(out, indent, "text", name, size, value, "", maxlength);
}

// A table row: the label cell and a cell with the text input.
template <class Value>
void ShowTextInputElementInRow(std::ostream &out, int indent, std::string_view name,
                               std::string_view label, int size, const Value &value,
                               int maxlength) {
    const std::string pad = formdetail::Pad(indent);
    out << pad << "<tr>\n";
    out << pad << "    <td><font color=\"blue\">" << label << "</font></td>\n";
    out << pad << "    <td>\n";
    ShowTextInputElement(out, indent + 8, name, size, value, maxlength);
    out << pad << "    </td>\n";
    out << pad << "</tr>\n";
}

template <class Value>
void ShowRadioButtonInputElement(std::ostream &out, int indent, std::string_view name,
                                 const Value &value, bool checked) {
    ShowInputElement(out, indent, "radio", name, -1, value, checked ? "checked" : "", -1);
}

// A table row with a select; options ends with a null entry. A selected
// index that matches no option selects none.
inline void ShowSelectInputElementInRow(std::ostream &out, int indent, std::string_view name,
                                        std::string_view label, int selected,
                                        const char *const *options) {
    const std::string pad = formdetail::Pad(indent);
    out << pad << "<tr>\n";
    out << pad << "    <td><font color=\"blue\">" << label << "</font></td>\n";
    out << pad << "    <td><select \n";
    out << pad << "        name=\"" << name << "\"\n";
    out << pad << "        id=\"" << name << "\">\n";
    for (int k = 0; options && options[k]; ++k) {
        out << pad << (k == selected ? "        <option selected>" : "        <option>")
            << Html(options[k]) << "</option>\n";
    }
    out << pad << "    </select></td>\n";
    out << pad << "</tr>\n";
}

#endif
