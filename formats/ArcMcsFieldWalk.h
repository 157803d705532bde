// CArcMcsFieldWalk: the one walk over a format's field area, shared by the
// readers of a format. Built right after the header has been read from the
// buffer, it hands out one host field per step, never reads past the field
// area, and gives a looping format up after kMaxSteps descriptors.
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

    // The field area starts at the buffer's read offset.
    CArcMcsFieldWalk(CBuffer &buffer, const CArcMcsFormatHdr &header);

    // Why the field area cannot be walked at all, or null.
    const char *AreaProblem() const;
    bool AtEnd() const;
    // The next host field, or null: Fault() says why, UnknownKind() tells
    // an unknown descriptor kind (already logged) from a cut or looping one.
    std::unique_ptr<CArcMcsField> Next();
    const char *Fault() const { return m_pFault; }
    bool UnknownKind() const { return m_Info.unknownKind; }
    const McsFieldInfo &Info() const { return m_Info; }

private:
    CBuffer &m_Buffer;
    McsFieldInfo m_Info;
    int m_nSteps = 0;
    const char *m_pFault = nullptr;
};

// The failure of a format read: logs why (with the format's name as far
// as it is printable: it may be what is wrong) and gives
// FormatConversionError.
Result FormatNotRead(const SafeString &name, const char *why);

#endif
