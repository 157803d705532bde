// The host side's help block and its lookups by place.
#include "ArcMcsHelp.h"

#include "ZelBuffer.h"

CArcMcsHelpField::CArcMcsHelpField(const CArcTFDHelp::Entry &e)
    : m_nRow(e.row - 1), m_nColumn(e.column - 1), m_nLength(e.length), m_strHelpId(e.id) {}

bool CArcMcsHelpField::InField(int row, int column) const {
    const int first = GetColumn();
    return row == GetRow() && column >= first && column < first + (m_nLength ? m_nLength : 1);
}

void CArcMcsHelp::ReadFromBuffer(CBuffer &b) {
    static_cast<CArcTFDHelp &>(*this) = CArcTFDHelp();
    m_Fields.clear();
    const int count = ReadHead(b);
    CArcTFDHelp::Entry e;
    for (int k = 0; k < count && ReadEntry(b, e); ++k) m_Fields.emplace_back(e);
}

void CArcMcsHelp::GetHelpKeys(int &system, int &screen, int &field) const {
    system = GetSystemHelpFKey();
    screen = GetScreenHelpFKey();
    field = GetFieldHelpFKey();
}

const CArcMcsHelpField *CArcMcsHelp::GetField(int i) const {
    return i >= 0 && i < GetFieldCount() ? &m_Fields[static_cast<size_t>(i)] : nullptr;
}

int CArcMcsHelp::FieldIndexFromPosition(int row, int column) const {
    for (int i = GetFieldCount() - 1; i >= 0; --i)
        if (m_Fields[static_cast<size_t>(i)].InField(row, column)) return i;
    return -1;
}

SafeString CArcMcsHelp::GetFieldHelpId(int row, int column) const {
    const CArcMcsHelpField *f = GetField(FieldIndexFromPosition(row, column));
    return f ? f->GetHelpId() : SafeString();
}
