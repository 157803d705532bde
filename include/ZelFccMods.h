// CZelFccMods: the field control modifications the host may send with a
// screen. Pair i of the list (bytes 2i and 2i + 1) changes how field i is
// shown. TranslateMods rewrites the host's codes in place into flag bytes
// the page filler understands: the high nibble says which properties are
// set (bit 4 + k for property bit k), the low nibble carries their values.
#ifndef QOR_ZELFCCMODS_H
#define QOR_ZELFCCMODS_H

#include "ZelBuffer.h"

class CZelFccMods {
public:
    CZelFccMods() = default;
    virtual ~CZelFccMods() = default;

    // The pair list; the DTP protocol fills it directly.
    CBuffer &GetBuffer() { return m_buffer; }
    const CBuffer &GetBuffer() const { return m_buffer; }
    int GetCount() const { return m_buffer.GetLength() / 2; }   // pairs

    void Reset();                     // empties the list, keeps its storage
    int TranslateMods();              // host codes -> flag bytes; returns 0
    // The flag bytes r1, r2 of one host pair (a, b), as TranslateMods
    // writes them.
    void TranslatePair(unsigned char a, unsigned char b, unsigned char &r1, unsigned char &r2) const;

    // Intensity of a host code: '0'..'6','N' 0; 'O' 1; 'L','R','S' 2;
    // 'B','F','G','H' 3; anything else the code itself.
    unsigned char ProcessFccIntensity(unsigned char code) const;

    // Byte j (0 or 1) of translated pair i: does it set any of mask's
    // properties?
    bool InternalIsChanged(unsigned char mask, int i, int j) const;
    // -1 when the byte is missing or sets none of mask's properties;
    // 1 when its values under mask equal value, else 0.
    int InternalIsSet(unsigned char mask, unsigned char value, int i, int j) const;

    // Replaces the list by a copy of b's valid bytes; returns 1.
    int Attach(const CBuffer &b);
    // Hands the list's bytes back and leaves the list empty.
    CBuffer Detach();

private:
    // The byte, or -1 when it does not exist.
    int ByteAt(int i, int j) const;

    CBuffer m_buffer;
};

#endif
