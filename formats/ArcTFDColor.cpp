// Colour numbers of the host and their RGB values.
#include "ArcTFDColor.h"

uint32_t CArcTFDColor::RgbColorFromMcsColor(int mcs) {
    static const uint32_t kRgb[8] = {0x000000, 0x0000C8, 0x00C800, 0x00C8C8,
                                     0xC80000, 0xC800C8, 0xC8C800, 0xFFFFFF};
    return mcs >= 0 && mcs < 8 ? kRgb[mcs] : 0;
}
