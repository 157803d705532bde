// The name=mask pairs of a field file's first record, in order, for
// comparing converted field files with hand-written ones. A one-letter
// picture is spelled with its length ("X" as "X(1)"): both mean the same.
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace fmt_test {

inline std::string CanonicalPicture(const std::string &pic) { return pic.size() == 1 ? pic + "(1)" : pic; }

inline std::vector<std::string> FieldFilePairs(const std::string &text) {
    std::vector<std::string> out;
    const std::string first = text.substr(0, text.find("</record>"));
    const std::regex field("<field name=\"([^\"]+)\" mask=\"([^\"]+)\"/>");
    for (std::sregex_iterator it(first.begin(), first.end(), field), end; it != end; ++it)
        out.push_back((*it)[1].str() + "=" + CanonicalPicture((*it)[2].str()));
    return out;
}

}  // namespace fmt_test
