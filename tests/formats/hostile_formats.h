// Screen formats of a hostile or broken host, built byte by byte: a few
// hundred bytes of repeated lines, sections and continued fields that no
// screen of their header's geometry can be, and that would otherwise make
// pages of tens of megabytes. Shared by the format, fmtconv and gateway
// tests; they need nothing but the standard library.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace hostile {

inline std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

inline std::string Times(int n, const std::string &part) {
    std::string s;
    for (int i = 0; i < n; ++i) s += part;
    return s;
}

// The 48-byte header (rows x columns from row 1; flags29 0x20: an SFS
// emulation format, always 24 x 80) and the field area.
inline std::string Format(const std::string &name, const std::string &area, int rows = 24, int columns = 80,
                          int flags29 = 0) {
    std::string n = name.substr(0, 8);
    n.resize(8, ' ');
    const int size = static_cast<int>(area.size());
    return Bytes({0, 0, 0, 0, 0, 1, 0, 1, rows, columns, 0, 0}) + n + n +
           Bytes({1, flags29, ':', 1, 0, 0, 0, 0, 0, 0, size >> 8, size & 255, 3, 2, 2, 4, 0, 0, 0, 0}) + area;
}

// Descriptors.
inline std::string Alpha(int length, int attributes = 0x02) { return Bytes({length, attributes, 0}); }
inline std::string Continued(int length) { return Bytes({length, 0x03, 0}); }
inline std::string NewLine(int repeats) { return Bytes({repeats, 0x14, 0}); }
// The `bytes` bytes of descriptors before it, read `repeats` more times.
inline std::string Section(int repeats, int bytes) { return Bytes({repeats, 0x15, bytes}); }

struct Case {
    const char *what;
    std::string name;    // format name, also the file's base name
    std::string t3z;
    const char *reason;  // what the log says
};

// One of each way past the bounds, every one with a 24 x 80 header.
inline std::vector<Case> Cases() {
    std::vector<Case> out;
    // A section of a continued field and a repeated character, 128 times
    // in a line, the line 128 times, twice.
    const std::string repeated = Continued(127) + Bytes({0xBF, 0, 0, 'x'});
    const std::string line = repeated + Section(127, 7) + NewLine(127);
    out.push_back({"continued repeats in repeated lines", "REPCHAR", Format("REPCHAR", line + line),
                   "a field starts beyond the screen's last column"});
    // 85 one-column fields in a section read 128 times, the line 9 times.
    out.push_back({"85 fields x 128 x 9", "WIDE85",
                   Format("WIDE85", Times(85, Alpha(1)) + Section(127, 255) + NewLine(8)),
                   "a field starts beyond the screen's last column"});
    // The same with zero-length fields: all of them within rows 1 to 9.
    out.push_back({"zero-length fields x 128 x 9", "ZERO85",
                   Format("ZERO85", Times(85, Alpha(0)) + Section(127, 255) + NewLine(8)),
                   "more fields than the screen has cells"});
    // Continued fields pushing the columns on by 128 a field.
    out.push_back({"columns pushed on by continued fields", "CONTCOLS",
                   Format("CONTCOLS", Continued(127) + Alpha(1) + Section(127, 6) + NewLine(127)),
                   "a field starts beyond the screen's last column"});
    // One-column numbers of 63 host digits each: 80,640 bytes of host data.
    out.push_back({"host data past 65,535 bytes", "BIGDATA",
                   Format("BIGDATA", Times(80, Bytes({1, 0x0C, 0, 0, 63}) + "9") + NewLine(15)),
                   "the host data passes 65,535 bytes"});
    out.push_back({"rows beyond the last", "DEEPROWS", Format("DEEPROWS", Alpha(1) + NewLine(29)),
                   "a field starts beyond the screen's last row"});
    // A field of 2,033 columns on a screen of 1,920 cells.
    out.push_back({"a field longer than the screen", "LONGFLD",
                   Format("LONGFLD", Times(16, Continued(127)) + Alpha(1)),
                   "a field runs on past the screen's last cell"});
    return out;
}

// A real screen at its largest: every cell a one-column input field.
inline std::string FullScreen(const std::string &name, int rows, int columns) {
    return Format(name, Times(columns, Alpha(1, 0x42)) + NewLine(rows - 1), rows, columns);
}

}  // namespace hostile
