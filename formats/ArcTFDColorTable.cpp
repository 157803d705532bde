// The colour table of a colour format.
#include "ArcTFDColorTable.h"

#include "ArcMcsField.h"
#include "ZelBuffer.h"

CArcTFDColorTable::CArcTFDColorTable(const CArcMcsDefineColoursField *colours)
    : CArcTFDDrawableField(nullptr, nullptr) {
    Setup(colours);
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDColorTable::Clone() const {
    return std::unique_ptr<CArcTFDDrawableField>(new CArcTFDColorTable(*this));
}

void CArcTFDColorTable::Setup(const CArcMcsDefineColoursField *colours) {
    for (int i = 0; i < kSize; ++i) {
        m_Fg[i] = CArcTFDColor(colours ? colours->GetForegroundColour(i) : 7);
        m_Bg[i] = CArcTFDColor(colours ? colours->GetBackgroundColour(i) : 0);
    }
}

int CArcTFDColorTable::DoSaveIntoBuffer(CBuffer &out) const {
    out << static_cast<uint8_t>(0x00) << static_cast<uint8_t>(0x1F) << static_cast<uint8_t>(0x00);
    for (int i = 0; i < kSize; ++i)
        out << static_cast<uint8_t>(0x40 + (m_Bg[i].GetMcsColor() & 7) * 8 + (m_Fg[i].GetMcsColor() & 7));
    return 3 + kSize;
}
