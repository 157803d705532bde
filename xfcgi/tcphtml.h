// The compiled page template (one record per .htx file, kept in the
// template cache).
//
// This holds the parts that the field-table reader and the request input
// use: the path, the flags, the three field tables with the screen size,
// and the screen buffer that submitted forms are read back into. The
// template compiler adds the segment table, the text and the cache data.
#ifndef QOR_TCPHTML_H
#define QOR_TCPHTML_H

#include <cstddef>
#include <string>
#include <vector>

#include "xfcgit3i.h"

struct tcpHTML {
    // Bits of flags.
    static constexpr unsigned kInUse = 1;
    static constexpr unsigned kWebTables = 2;   // toweb/fromweb tables or a
                                                // substitution list: EBCDIC signs
    static constexpr unsigned kOwnsScreen = 8;  // the screen buffer is ownScreen
    static constexpr unsigned kOwnsHeader = 16;
    static constexpr unsigned kFilled = 32;     // the gateway filled the page

    std::string path;               // as it was found
    unsigned flags = 0;

    TemplateFieldTable mainFields;     // "MCS Fields"
    TemplateFieldTable towebFields;    // "Send To Web"
    TemplateFieldTable fromwebFields;  // "Read From Web"
    std::string t3iPath;

    int screenSize = 0;     // largest end of a field over all groups
    int usedScreenLen = 0;  // largest field end of the last form read
    int fccModCount = 0;    // twice the field occurrences of the largest group

    // Screen record that a submitted form is read into: a buffer handed in
    // by the caller (mcsData, mcsCapacity bytes) or, with kOwnsScreen, the
    // template's own ownScreen.
    char* mcsData = nullptr;
    size_t mcsCapacity = 0;
    std::vector<char> ownScreen;
};

#endif
