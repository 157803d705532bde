// Reading a help block: its head and its field entries.
#include "ArcTFDHelp.h"

#include "ZelBuffer.h"

namespace {

// An 8-character help id without the blanks around it.
SafeString ReadHelpId(CBuffer &b) {
    std::string s;
    b.GetCobolString(s, 8, 1);
    const char *blanks = " \t\n\r";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return SafeString();
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

}  // namespace

bool CArcTFDHelp::FindBlock(CBuffer &b) {
    if (b.GetLength() < kHeadSize) return false;
    char marker = 0;
    b >> marker;
    return marker == 'J';
}

int CArcTFDHelp::ReadHead(CBuffer &b) {
    SetHelpPresent(1);
    uint8_t skip = 0, system = 0, screen = 0, field = 0;
    b >> skip >> system >> screen >> field >> skip >> skip >> skip;
    SetSystemHelpFKey(system);
    SetScreenHelpFKey(screen);
    SetFieldHelpFKey(field);
    SetSystemHelpId(ReadHelpId(b));
    SetScreenHelpId(ReadHelpId(b));
    uint8_t top = 0, left = 0, bottom = 0, right = 0, frame = 0, text = 0;
    b >> top >> left >> bottom >> right >> skip >> frame >> text;
    SetHelpRect(CRect{left - 1, top - 1, right - 1, bottom - 1});
    SetHelpFrameAttr(frame);
    SetHelpTextAttr(text);
    uint16_t unused = 0, count = 0;
    for (int k = 0; k < 5; ++k) b >> skip;
    b >> unused >> count;
    return count;
}

bool CArcTFDHelp::ReadEntry(CBuffer &b, Entry &e) {
    if (b.GetLength() < kEntrySize) return false;
    b >> e.row >> e.column >> e.length;
    e.id = ReadHelpId(b);
    return true;
}
