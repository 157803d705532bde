// CArcTFDColorTable: the 16 foreground/background pairs of a colour
// format, set from its define-colours field (7 on 0 without one). It is a
// drawable field so that a format can keep it beside its fields.
#ifndef QOR_ARCTFDCOLORTABLE_H
#define QOR_ARCTFDCOLORTABLE_H

#include "ArcTFDDrawableField.h"

class CArcMcsDefineColoursField;

class CArcTFDColorTable : public CArcTFDDrawableField {
public:
    static constexpr int kSize = 16;

    explicit CArcTFDColorTable(const CArcMcsDefineColoursField *colours = nullptr);

    std::unique_ptr<CArcTFDDrawableField> Clone() const override;
    void Setup(const CArcMcsDefineColoursField *colours);

    static int GetColorTableSize() { return kSize; }
    // Entries 0 to 15; other indexes give an undefined colour or are ignored.
    CArcTFDColor GetFgColor(int i) const { return Inside(i) ? m_Fg[i] : CArcTFDColor(); }
    CArcTFDColor GetBgColor(int i) const { return Inside(i) ? m_Bg[i] : CArcTFDColor(); }
    void SetFgColor(int i, const CArcTFDColor &c) {
        if (Inside(i)) m_Fg[i] = c;
    }
    void SetBgColor(int i, const CArcTFDColor &c) {
        if (Inside(i)) m_Bg[i] = c;
    }
    SafeString GetColorDescr(int i) const { return Inside(i) ? "some color..." : ""; }
    uint32_t GetRgbFgColor(int i) const { return CArcTFDColor::RgbColorFromMcsColor(GetFgColor(i).GetMcsColor()); }
    uint32_t GetRgbBgColor(int i) const { return CArcTFDColor::RgbColorFromMcsColor(GetBgColor(i).GetMcsColor()); }

    // The define-colours descriptor 00 1F 00 and 16 bytes 0x40 + bg * 8 + fg.
    int DoSaveIntoBuffer(CBuffer &out) const override;

private:
    static bool Inside(int i) { return i >= 0 && i < kSize; }

    CArcTFDColor m_Fg[kSize];
    CArcTFDColor m_Bg[kSize];
};

#endif
