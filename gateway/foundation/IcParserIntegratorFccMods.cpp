// The field control modifications of the current screen as template values.
//
// Pages converted with limited or full support test, for the field whose
// host data ordinal is N + 1, the values mcs.fccmods[N].protected,
// .unprotected, .off, .blink and .mask.video. They come from pair N of the
// modifications the host sent with the screen, after CZelFccMods has
// translated it: in each translated byte bits 4 to 7 say which of bits 0
// to 3 the host set, and bits 0 to 3 hold their values.
//
//   first byte (display): bits 0-1 the intensity (0 normal, 1 off - not
//   displayed, 2 low, 3 high), bit 2 blinking;
//   second byte (protection): bits 0-1 the protection (0 unprotected,
//   anything else protected).
//
//   value         1 when
//   .protected    the host set the protection, to protected
//   .unprotected  the host set the protection, to unprotected
//   .off          the host set the intensity, to 1 (off)
//   .blink        the host set the blinking bit, on
//   .mask.video   the host set the intensity at all (a field of the dark
//                 colour 1 is shown only then)
//   and empty otherwise, so that a value alone is a condition ("#if expr =
//   "mcs.fccmods[2].off"") and "eq 0" holds for it (an empty value counts
//   as 0 against a number). Every field the page's field file counts gets
//   all five values, empty where the host sent no pair for it.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>

#include "IcParserIntegrator.h"
#include "ZelBuffer.h"
#include "ZelFccMods.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"

namespace {

// Whether the page refers to the values at all (in any case).
bool Mentions(const std::string &text) {
    static const char kKey[] = "fccmods[";
    const size_t n = sizeof kKey - 1;
    for (size_t i = 0; i + n <= text.size(); ++i) {
        size_t k = 0;
        while (k < n && std::tolower(static_cast<unsigned char>(text[i + k])) == kKey[k]) ++k;
        if (k == n) return true;
    }
    return false;
}

struct FieldMods {
    int protectedOn, unprotectedOn, off, blink, video;
};

FieldMods Decode(uint8_t display, uint8_t protection) {
    const bool intensitySet = (display & 0x30) != 0;
    const bool protectionSet = (protection & 0x30) != 0;
    FieldMods m{};
    m.protectedOn = protectionSet && (protection & 0x03) != 0;
    m.unprotectedOn = protectionSet && (protection & 0x03) == 0;
    m.off = intensitySet && (display & 0x03) == 1;
    m.blink = (display & 0x40) && (display & 0x04);
    m.video = intensitySet;
    return m;
}

}  // namespace

void CIcParserIntegrator::PutFccModsValues(const tcpHTML *t) {
    if (!t || !Mentions(t->text)) return;
    const CBuffer *mods = m_pFccMods ? &m_pFccMods->GetBuffer() : nullptr;
    const int pairs = mods ? mods->GetLength() / 2 : 0;
    const int fields = std::max(pairs, t->fccModCount / 2);
    char name[48];
    for (int i = 0; i < fields; ++i) {
        const FieldMods m = i < pairs ? Decode(static_cast<uint8_t>(mods->GetAt(2 * i)),
                                               static_cast<uint8_t>(mods->GetAt(2 * i + 1)))
                                      : FieldMods{};
        const struct {
            const char *suffix;
            int value;
        } values[] = {{"protected", m.protectedOn}, {"unprotected", m.unprotectedOn}, {"off", m.off},
                      {"blink", m.blink},           {"mask.video", m.video}};
        for (const auto &v : values) {
            std::snprintf(name, sizeof name, "mcs.fccmods[%d].%s", i, v.suffix);
            xFcgiPutStr(name, v.value ? "1" : "");
        }
    }
}

bool CIcParserIntegrator::FollowsFccMods() const {
    const tcpHTML *t = m_pTemplate;
    if (!t) return false;
    for (const TemplateFieldTable *table : {&t->mainFields, &t->towebFields, &t->fromwebFields})
        for (const TemplateField &f : *table)
            if (f.fccIndex >= 0) return true;
    return false;
}

std::set<std::string> CIcParserIntegrator::ProtectedFields(const tcpHTML *t, char filler) const {
    // The page's own test: a field protected at conversion is an input only
    // when the host unprotects it; any other one unless the host protects
    // it, and only on a screen with a filler other than a blank.
    std::set<std::string> out;
    if (!t) return out;
    const TemplateFieldTable &table = !t->fromwebFields.empty() ? t->fromwebFields : t->mainFields;
    const CBuffer *mods = m_pFccMods ? &m_pFccMods->GetBuffer() : nullptr;
    const int pairs = mods ? mods->GetLength() / 2 : 0;
    for (const TemplateField &f : table) {
        if (f.fccIndex < 0) continue;
        const int i = f.fccIndex;
        const FieldMods m = i < pairs ? Decode(static_cast<uint8_t>(mods->GetAt(2 * i)),
                                               static_cast<uint8_t>(mods->GetAt(2 * i + 1)))
                                      : FieldMods{};
        const bool enterable = (f.flags & TemplateField::kProtected) ? m.unprotectedOn != 0
                                                                      : !m.protectedOn && filler != ' ';
        if (!enterable) out.insert(f.name);
    }
    return out;
}
