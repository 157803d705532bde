// Hand-built screen formats: a header, a field area and what follows it,
// and a one-line description of each form field a read yields.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "ArcTFDDataField.h"
#include "ArcTFDFormat.h"
#include "ArcTFDSecurityField.h"
#include "ZelBuffer.h"

namespace fmt_test {

// Bytes from numbers (so that no hex escape swallows a following letter).
inline std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

struct Hdr {
    std::string name = "TEST";      // padded with blanks to 8 bytes
    int rows = 24, columns = 80, startRow = 1;
    int flags28 = 0x01, flags29 = 0;
    int cursorRow = 0, cursorColumn = 0;
    int heading = 3, data = 2, negative = 2, error = 4;
    int formatSize = -1;            // -1: the area's length
};

inline std::string Format(const std::string &area, const Hdr &h = Hdr(), const std::string &tail = "") {
    std::string name = h.name.substr(0, 8);
    name.resize(8, ' ');
    const int size = h.formatSize < 0 ? static_cast<int>(area.size()) : h.formatSize;
    return B({0, 0, 0, 0, 0, 1, 0, 1, h.rows, h.columns, 0, 0}) + name + name +
           B({h.flags28, h.flags29, ':', h.startRow, h.cursorRow, h.cursorColumn, 0, 0, 0, 0, size >> 8,
              size & 255, h.heading, h.data, h.negative, h.error, 0, 0, 0, 0}) +
           area + tail;
}

inline Result Read(CArcTFDFormat &f, const std::string &bytes) {
    CBuffer b(bytes.data(), static_cast<int>(bytes.size()));
    return f.ReadFromBuffer(b);
}

// "D 1,8 8 #2 @8+8 X(8)": kind letter (H heading, S special, L security,
// E error, D data, N numeric), row,column, length, then per kind the host
// ordinal, data offset+length, picture, text, default and SFS settings.
inline std::string Describe(const CArcTFDDrawableField &f) {
    static const char kLetters[] = "?HDENSL";
    std::string s(1, kLetters[f.GetFieldType()]);
    s += " " + std::to_string(f.GetRow()) + "," + std::to_string(f.GetColumn()) + " " +
         std::to_string(f.GetLength());
    if (const auto *d = dynamic_cast<const CArcTFDDataErrorField *>(&f)) {
        if (d->GetIndex()) s += " #" + std::to_string(d->GetIndex());
        s += " @" + std::to_string(d->GetDataOffset()) + "+" + std::to_string(d->GetDataLength());
        const std::string pic = CArcTFDDrawableFieldMeta::GetFieldPicAX9(&f);
        if (!pic.empty()) s += " " + pic;
        if (!d->GetDefaultText().empty()) s += " =" + d->GetDefaultText();
    } else {
        s += " \"" + f.GetText() + "\"";
    }
    for (const CArcTFDSFSIndicatorData &i : f.GetSFSIndData()) {
        char ind[16];
        std::snprintf(ind, sizeof ind, " sfs%d/%02X", i.GetIndicator(), i.GetIndicFlagsByte());
        s += ind;
    }
    return s;
}

inline std::vector<std::string> DescribeAll(const CArcTFDFormat &f) {
    std::vector<std::string> out;
    for (int i = 0; i < f.GetFieldCount(); ++i) out.push_back(Describe(*f.GetFieldByIdx(i)));
    return out;
}

// The whole content of a file (empty when it cannot be read).
inline std::string Slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace fmt_test
