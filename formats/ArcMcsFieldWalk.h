// CArcMcsFieldWalk: the one walk over a format's field area, shared by the
// readers of a format. Built right after the header has been read from the
// buffer, it hands out one host field per step, never reads past the field
// area, and gives a looping format up after kMaxSteps descriptors.
//
// It also gives up a format that no screen of its header's geometry can be
// (see CArcMcsFormatHdr::GetScreenCells), so that a few bytes of repeated
// lines, sections and continued fields cannot make a page of megabytes:
// more fields that take a place on the screen than the screen has cells, a
// field that starts beyond the screen's last row or column or runs on past
// its last cell, or host screen data past 65,535 bytes (the MCS header's
// size and count are 16-bit).
//
//   CArcMcsFieldWalk walk(buffer, header);
//   if (const char *why = walk.AreaProblem()) ...fail...;
//   while (!walk.AtEnd()) {
//       std::unique_ptr<CArcMcsField> f = walk.Next();
//       if (!f) ...fail with walk.Fault()...;
//   }
#ifndef QOR_ARCMCSFIELDWALK_H
#define QOR_ARCMCSFIELDWALK_H

#include <memory>

#include "ArcMcsField.h"
#include "Result.h"
#include "SafeString.h"

class CBuffer;
class CArcMcsFormatHdr;

class CArcMcsFieldWalk {
public:
    // Most descriptors one read follows (repeated lines and sections
    // included) before it gives the format up as looping.
    static constexpr int kMaxSteps = 100000;
    // Largest host screen data.
    static constexpr int kMaxHostData = 65535;

    // The field area starts at the buffer's read offset.
    CArcMcsFieldWalk(CBuffer &buffer, const CArcMcsFormatHdr &header);

    // Why the field area cannot be walked at all, or null.
    const char *AreaProblem() const;
    bool AtEnd() const;
    // The next host field, or null: Fault() says why, UnknownKind() tells
    // an unknown descriptor kind (already logged) from a cut, looping or
    // oversized one.
    std::unique_ptr<CArcMcsField> Next();
    const char *Fault() const { return m_pFault; }
    bool UnknownKind() const { return m_Info.unknownKind; }
    const McsFieldInfo &Info() const { return m_Info; }

    // Whether a host field of this kind becomes a field of the page (the
    // kinds that only steer the walk or define things do not).
    static bool TakesAPlace(const CArcMcsField &field);

private:
    // Why the field cannot be on the screen, or null; counts it.
    const char *PlaceProblem(const CArcMcsField &field);

    CBuffer &m_Buffer;
    McsFieldInfo m_Info;
    int m_nSteps = 0;
    const char *m_pFault = nullptr;
    // The screen of the header's geometry, and the fields placed on it.
    int m_nFirstRow, m_nLastRow, m_nLastColumn;
    long long m_nCells;
    long long m_nPlaced = 0;
};

// The failure of a format read: logs why (with the format's name as far
// as it is printable: it may be what is wrong) and gives
// FormatConversionError.
Result FormatNotRead(const SafeString &name, const char *why);

#endif
