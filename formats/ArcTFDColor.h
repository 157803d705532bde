// CArcTFDColor: a host (MCS) colour number, 0 to 15, or undefined (255).
// Fields keep their colour in this form; the page writer turns it into
// styles and the colour table maps it onto foreground/background pairs.
#ifndef QOR_ARCTFDCOLOR_H
#define QOR_ARCTFDCOLOR_H

#include <cstdint>

class CArcTFDColor {
public:
    static constexpr uint8_t kUndefined = 255;

    CArcTFDColor() = default;                       // undefined
    // Any value outside 0..15 gives an undefined colour.
    explicit CArcTFDColor(int mcs)
        : m_nColor(mcs >= 0 && mcs <= 15 ? static_cast<uint8_t>(mcs) : kUndefined) {}

    bool IsUndefined() const { return m_nColor >= kUndefined; }
    void SetUndefined() { m_nColor = kUndefined; }
    uint8_t GetMcsColor() const { return m_nColor; }
    void SetMcsColor(uint8_t mcs) { m_nColor = mcs; }   // stored as given

    bool operator==(const CArcTFDColor &o) const { return m_nColor == o.m_nColor; }
    bool operator!=(const CArcTFDColor &o) const { return m_nColor != o.m_nColor; }

    // 0x000000 black, 0x0000C8 blue, 0x00C800 green, 0x00C8C8 cyan,
    // 0xC80000 red, 0xC800C8 magenta, 0xC8C800 yellow, 0xFFFFFF white for
    // 0 to 7; anything else 0.
    static uint32_t RgbColorFromMcsColor(int mcs);

private:
    uint8_t m_nColor = kUndefined;
};

#endif
