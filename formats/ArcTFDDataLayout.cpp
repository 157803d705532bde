// Field-file records in step with the host's screen data.
#include "ArcTFDDataLayout.h"

#include <algorithm>
#include <string>

#include "ArcTFDDataField.h"
#include "ArcTFDFieldMeta.h"

namespace {

const CArcTFDDataErrorField *DataOf(const CArcTFDDataLine &line) {
    return dynamic_cast<const CArcTFDDataErrorField *>(line.field);
}

bool ByOffset(const CArcTFDDataLine &a, const CArcTFDDataLine &b) {
    return a.offset < b.offset || (a.offset == b.offset && a.ordinal < b.ordinal);
}

// The picture of a numeric field cut to the digits the host keeps: its
// leading digit positions (and the punctuation before the first one left)
// go, as the host holds the low digits.
SafeString FittedPicture(const CArcTFDNumericField &field, int digits) {
    const CArcTFDEditMask &mask = field.GetEditMask();
    const SafeString &text = mask.StripEditMaskText();
    int left = mask.GetNumberOfDigits();
    size_t cut = 0;
    for (; cut < text.size() && left > digits; ++cut)
        if (CArcTFDEditMask::IsEditMaskDigitCharacter(text[cut])) --left;
    while (cut < text.size() && !CArcTFDEditMask::IsEditMaskDigitCharacter(text[cut])) ++cut;
    return CArcTFDDrawableFieldMeta::GetEditMaskPic(mask, text.substr(cut));
}

// Host bytes that no field covers: the pad of the line before them, or a
// filler line when they come first.
void AddGap(std::vector<CArcTFDDataLine> &out, int gap) {
    if (gap <= 0) return;
    if (!out.empty()) {
        out.back().pad += gap;
        return;
    }
    CArcTFDDataLine filler;
    filler.picture = gap == 1 ? SafeString("X") : SafeString("X(" + std::to_string(gap) + ")");
    filler.room = gap;
    out.push_back(filler);
}

// Lines placed at their host offsets; input-only lines (when given) take
// room at their places and move every later field on by it. The room of
// the whole sequence goes to *room.
std::vector<CArcTFDDataLine> Sequence(const std::vector<CArcTFDDataLine> &data,
                                      const std::vector<CArcTFDDataLine> &inputOnly, int *room) {
    std::vector<CArcTFDDataLine> merged;
    std::merge(data.begin(), data.end(), inputOnly.begin(), inputOnly.end(), std::back_inserter(merged), ByOffset);
    std::vector<CArcTFDDataLine> out;
    int location = 0, shift = 0;
    for (CArcTFDDataLine line : merged) {
        const int at = line.offset + shift;
        // Hidden digits lie in the gap before the field, never in a field.
        line.hidden = std::min(line.hidden, std::max(at - location, 0));
        AddGap(out, at - location);
        location = std::max(location, at) + line.room;
        if (DataOf(line)->IsInputOnly()) shift += line.room;
        out.push_back(line);
    }
    *room = location;
    return out;
}

}  // namespace

CArcTFDDataLayout::CArcTFDDataLayout(const std::vector<CArcTFDDrawableField *> &sorted) {
    std::vector<CArcTFDDataLine> lines;
    bool placed = true;
    for (size_t i = 0; i < sorted.size(); ++i) {
        CArcTFDDataLine line;
        line.field = sorted[i];
        line.picture = CArcTFDDrawableFieldMeta::GetFieldPicAX9(line.field);
        if (line.picture.empty()) continue;
        line.ordinal = static_cast<int>(i) + 1;
        line.room = std::max(line.field->GetCobolLength(), 0);
        const CArcTFDDataErrorField *data = DataOf(line);
        if (!data || data->GetDataOffset() < 0) placed = false;
        lines.push_back(line);
    }
    if (placed)
        LayOutByOffset(lines);
    else
        LayOutInSequence(lines);

    // A main record ends where the first field that begins a detail block
    // starts a "details" record.
    if (m_Records.size() == 1 && std::string(m_Records[0].type) == "main") {
        std::vector<CArcTFDDataLine> &main = m_Records[0].lines;
        auto detail = std::find_if(main.begin(), main.end(), [](const CArcTFDDataLine &l) {
            return l.field && l.field->GetBeginDetail();
        });
        if (detail != main.end()) {
            CArcTFDDataRecord details;
            details.type = "details";
            details.lines.assign(detail, main.end());
            main.erase(detail, main.end());
            if (main.empty()) m_Records.clear();
            m_Records.push_back(details);
        }
    }
}

void CArcTFDDataLayout::LayOutInSequence(std::vector<CArcTFDDataLine> lines) {
    m_nInputRoom = 0;
    for (const CArcTFDDataLine &line : lines) m_nInputRoom += line.room;
    if (lines.empty()) return;
    CArcTFDDataRecord main;
    main.lines = std::move(lines);
    m_Records.push_back(std::move(main));
}

void CArcTFDDataLayout::LayOutByOffset(const std::vector<CArcTFDDataLine> &lines) {
    std::vector<CArcTFDDataLine> data, inputOnly, roomless;
    for (CArcTFDDataLine line : lines) {
        const CArcTFDDataErrorField *field = DataOf(line);
        line.offset = field->GetDataOffset();
        if (field->IsInputOnly()) {
            inputOnly.push_back(line);
            continue;
        }
        const int host = field->GetDataLength();
        if (host <= 0) {
            // No host bytes at all: it comes last, past the host data.
            roomless.push_back(line);
            continue;
        }
        const auto *numeric = dynamic_cast<const CArcTFDNumericField *>(field);
        if (numeric && host < line.room) {
            line.picture = FittedPicture(*numeric, host);
            line.room = host;
        }
        // The picture covers the last bytes of a wider host number.
        line.hidden = numeric && host > line.room ? host - line.room : 0;
        line.offset = field->GetDataOffset() + line.hidden;
        data.push_back(line);
    }
    std::stable_sort(data.begin(), data.end(), ByOffset);
    std::stable_sort(inputOnly.begin(), inputOnly.end(), ByOffset);
    if (data.empty() && inputOnly.empty() && roomless.empty()) return;

    int room = 0;
    if (inputOnly.empty()) {
        CArcTFDDataRecord main;
        main.lines = Sequence(data, {}, &room);
        main.lines.insert(main.lines.end(), roomless.begin(), roomless.end());
        m_nInputRoom = room;
        m_Records.push_back(std::move(main));
        return;
    }
    CArcTFDDataRecord toWeb, fromWeb;
    toWeb.type = "toweb";
    toWeb.lines = Sequence(data, {}, &room);
    toWeb.lines.insert(toWeb.lines.end(), inputOnly.begin(), inputOnly.end());
    toWeb.lines.insert(toWeb.lines.end(), roomless.begin(), roomless.end());
    fromWeb.type = "fromweb";
    fromWeb.lines = Sequence(data, inputOnly, &room);
    fromWeb.lines.insert(fromWeb.lines.end(), roomless.begin(), roomless.end());
    m_nInputRoom = room;
    m_Records.push_back(std::move(toWeb));
    m_Records.push_back(std::move(fromWeb));
}

const char *CArcTFDDataLayout::Problem() const {
    for (const CArcTFDDataRecord &record : m_Records) {
        long long end = 0;
        for (const CArcTFDDataLine &line : record.lines) {
            if (line.pad > 255) return "a gap of more than 255 bytes between two fields of the host data";
            end += static_cast<long long>(line.room) + line.pad;
        }
        if (end > 65535) return "a field record longer than 65,535 bytes";
    }
    return nullptr;
}
