// CArcTFDDataLayout: the records of a converted screen's field file (.t3i),
// kept in step with the host's screen data.
//
// The field file's reader places the fields of a record one after another,
// each taking its picture's length and then its pad. So the lines of a
// record follow the fields' offsets in the host data (as the format reader
// found them), and a span of host data that no field covers becomes the
// pad of the line before it (a filler line when no line is before it).
// Numbers are right-aligned in the host data: a numeric edited field whose
// host digits exceed its mask shows the low digits, so its high ones are
// such a span (the field's hidden digits, which input rewrites with it); a
// mask with more digits than the host keeps loses its leading digit
// positions.
//
// Formats with input-only fields (SFS emulation) have two layouts: the host
// sends a screen without them ("toweb": they come last, past the host data,
// and show empty) and takes the input with them in their places
// ("fromweb"). Every other format has one "main" record. Fields made
// without a host field (no data offset) are laid out one after another.
#ifndef QOR_ARCTFDDATALAYOUT_H
#define QOR_ARCTFDDATALAYOUT_H

#include <vector>

#include "ArcTFDDrawableField.h"
#include "SafeString.h"

struct CArcTFDDataLine {
    const CArcTFDDrawableField *field = nullptr;   // null: filler of host bytes
    int ordinal = 0;         // the field's number in the page (field_NNN)
    SafeString picture;      // the mask attribute
    int pad = 0;             // host bytes after the field that no field covers
    int hidden = 0;          // host digits before the picture that the mask hides
    int room = 0;            // bytes the picture takes
    int offset = 0;          // where the picture starts in the host data
};

struct CArcTFDDataRecord {
    const char *type = "main";   // "main", "details", "toweb" or "fromweb"
    std::vector<CArcTFDDataLine> lines;
};

class CArcTFDDataLayout {
public:
    // From the fields in writing order: field i has ordinal i + 1.
    explicit CArcTFDDataLayout(const std::vector<CArcTFDDrawableField *> &sorted);

    const std::vector<CArcTFDDataRecord> &GetRecords() const { return m_Records; }
    // Bytes of screen data the page posts back (McsSize and McsCount): the
    // input record's lines and pads.
    int GetInputRoom() const { return m_nInputRoom; }
    // Why the field file's reader would refuse these records, or null: a
    // record whose fields and pads pass the 65,535 bytes of the largest
    // screen, or a pad of more than 255 bytes.
    const char *Problem() const;

private:
    void LayOutInSequence(std::vector<CArcTFDDataLine> lines);
    void LayOutByOffset(const std::vector<CArcTFDDataLine> &lines);

    std::vector<CArcTFDDataRecord> m_Records;
    int m_nInputRoom = 0;
};

#endif
