// The help block of a screen format as the host side sees it: the head
// (function keys, system and screen help ids, window) and one entry per
// field help, looked up by screen place. Places are 1-based, as the host
// fields count rows and columns.
//
//   int system, screen, field;
//   help.GetHelpKeys(system, screen, field);
//   SafeString id = help.GetFieldHelpId(row, column);   // "" when none
#ifndef QOR_ARCMCSHELP_H
#define QOR_ARCMCSHELP_H

#include <vector>

#include "ArcTFDHelp.h"
#include "SafeString.h"

class CBuffer;

// One field help entry: its place, the columns it covers and its help id.
class CArcMcsHelpField {
public:
    explicit CArcMcsHelpField(const CArcTFDHelp::Entry &entry);

    // The place as the block gives it, 1-based.
    int GetRow() const { return m_nRow + 1; }
    int GetColumn() const { return m_nColumn + 1; }
    int GetLength() const { return m_nLength; }
    const SafeString &GetHelpId() const { return m_strHelpId; }
    // Whether the entry covers the 1-based place: its row, from its column
    // over its length (its own column when the length is 0).
    bool InField(int row, int column) const;

private:
    int m_nRow, m_nColumn;     // 0-based, as form fields hold places
    int m_nLength;
    SafeString m_strHelpId;
};

class CArcMcsHelp : public CArcTFDHelp {
public:
    // Reads the block after its 'J' (see CArcTFDHelp::FindBlock): the head,
    // then the entries as far as the data holds whole ones.
    void ReadFromBuffer(CBuffer &buffer);

    // The function keys that call system, screen and field help.
    void GetHelpKeys(int &system, int &screen, int &field) const;
    int GetFieldCount() const { return static_cast<int>(m_Fields.size()); }
    const CArcMcsHelpField *GetField(int i) const;
    // The entry that covers the 1-based place (the later one in the block
    // when several do, as it is the one a form field keeps), or -1.
    int FieldIndexFromPosition(int row, int column) const;
    // Its help id; empty when no entry covers the place.
    SafeString GetFieldHelpId(int row, int column) const;

private:
    std::vector<CArcMcsHelpField> m_Fields;
};

#endif
