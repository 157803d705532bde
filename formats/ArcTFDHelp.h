// CArcTFDHelp: the help settings a screen format may carry after its field
// area: the function keys of system, screen and field help, the ids of the
// system and screen help texts, and the help window. Field help ids go to
// the form fields themselves.
//
// Help block: 'J', 1 unused, 3 function keys, 3 unused, system help id (8),
// screen help id (8), window top, left, bottom, right (1-based), 1 unused,
// frame and text attributes, 5 + 2 unused, u16 entry count, then entries of
// 11 bytes: row, column (1-based), length (unused), help id (8).
#ifndef QOR_ARCTFDHELP_H
#define QOR_ARCTFDHELP_H

#include <cstdint>

#include "ArcTFDCollections.h"
#include "SafeString.h"

class CBuffer;

class CArcTFDHelp {
public:
    static constexpr int kHeadSize = 40;     // with the 'J'
    static constexpr int kEntrySize = 11;

    // One field help entry as the block holds it (row and column 1-based).
    struct Entry {
        uint8_t row = 0, column = 0, length = 0;
        SafeString id;
    };
    // At the end of a field area: true, with the 'J' consumed, when a
    // help block follows. It is looked for only when a whole head (40
    // bytes) is left; a first byte other than 'J' is then consumed too.
    static bool FindBlock(CBuffer &buffer);
    // Reads the head after its 'J' (the caller has made sure its 39 bytes
    // are there) and sets help present; returns the announced entry count.
    int ReadHead(CBuffer &buffer);
    // Reads the next entry; false, reading nothing, when fewer than 11
    // bytes are left.
    static bool ReadEntry(CBuffer &buffer, Entry &entry);

    int GetHelpPresent() const { return m_bHelpPresent; }
    void SetHelpPresent(int on) { m_bHelpPresent = on ? 1 : 0; }
    const CRect &GetHelpRect() const { return m_HelpRect; }       // 0-based
    void SetHelpRect(const CRect &r) { m_HelpRect = r; }
    int GetSystemHelpFKey() const { return m_nSystemHelpFKey; }
    void SetSystemHelpFKey(int k) { m_nSystemHelpFKey = k; }
    int GetScreenHelpFKey() const { return m_nScreenHelpFKey; }
    void SetScreenHelpFKey(int k) { m_nScreenHelpFKey = k; }
    int GetFieldHelpFKey() const { return m_nFieldHelpFKey; }
    void SetFieldHelpFKey(int k) { m_nFieldHelpFKey = k; }
    unsigned GetHelpFrameAttr() const { return m_nFrameAttr; }
    void SetHelpFrameAttr(unsigned a) { m_nFrameAttr = a; }
    unsigned GetHelpTextAttr() const { return m_nTextAttr; }
    void SetHelpTextAttr(unsigned a) { m_nTextAttr = a; }
    const SafeString &GetSystemHelpId() const { return m_strSystemHelpId; }
    void SetSystemHelpId(const SafeString &id) { m_strSystemHelpId = id; }
    const SafeString &GetScreenHelpId() const { return m_strScreenHelpId; }
    void SetScreenHelpId(const SafeString &id) { m_strScreenHelpId = id; }

private:
    int m_bHelpPresent = 0;
    CRect m_HelpRect;
    int m_nSystemHelpFKey = 1;
    int m_nScreenHelpFKey = 2;
    int m_nFieldHelpFKey = 3;
    unsigned m_nFrameAttr = 0;
    unsigned m_nTextAttr = 0;
    SafeString m_strSystemHelpId;
    SafeString m_strScreenHelpId;
};

#endif
