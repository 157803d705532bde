// Internal to the XML unit: one occurrence of a mapped COBOL field to and
// from its document text (rules in xmlbook.h).
#pragma once

#include <string>
#include <string_view>

#include "xmlbook.h"

// The text that stands for a field of X'FF' bytes.
constexpr const char* kXmlHighValues = "<High-Values>";

// The text of the field's d.size bytes at p; false for a type without a
// conversion.
bool xmlBookGetText(const XmlBookFld& d, const unsigned char* p, std::string& out);

enum class XmlBookPut {
    Ok,
    Cut,      // text longer than the field: stored cut
    Lost,     // decimal places beyond npl: stored without them
    Bad,      // not a number, or too large for the field: nothing stored
    Unknown,  // a type without a conversion: nothing stored
};
// Stores text into the field's d.size bytes at p.
XmlBookPut xmlBookPutText(const XmlBookFld& d, std::string_view text, unsigned char* p);
