// CArcMcsFormat: a screen format as the host side sees it: its header, the
// host fields that take a place on the screen (data, headings, special and
// error fields, new lines, gaps), in the order of the walk, and its help
// block. It reads the same bytes as CArcTFDFormat, through the same header
// reader and the same bounded walk, but keeps the host fields themselves
// instead of making form fields of them.
//
//   CArcMcsFormat format;
//   if (format.ReadFromBuffer(bytes) != Result::Success) ...;   // logged
//   for (int i = 0; i < format.GetFieldCount(); ++i)
//       ... format.GetField(i)->GetRow(), GetColumn() (1-based) ...
//   format.GetHelp().GetFieldHelpId(row, column);
#ifndef QOR_ARCMCSFORMAT_H
#define QOR_ARCMCSFORMAT_H

#include <memory>
#include <vector>

#include "ArcMcsField.h"
#include "ArcMcsFormatHdr.h"
#include "ArcMcsHelp.h"
#include "Result.h"

class CBuffer;

class CArcMcsFormat {
public:
    // Reads one screen format from the buffer's read offset, forgetting the
    // one before. Success, or FormatConversionError (reason logged) when
    // the bytes are shorter than the header, the field area runs past them,
    // or a descriptor is unknown, cut or loops.
    Result ReadFromBuffer(CBuffer &buffer);
    void Clear();

    const CArcMcsFormatHdr &GetHeader() const { return m_Header; }
    int GetFieldCount() const { return static_cast<int>(m_Fields.size()); }
    const CArcMcsField *GetField(int i) const;
    const CArcMcsHelp &GetHelp() const { return m_Help; }

private:
    CArcMcsFormatHdr m_Header;
    std::vector<std::unique_ptr<CArcMcsField>> m_Fields;
    CArcMcsHelp m_Help;
};

#endif
