// fuzz-libs: qor_foundation qor_arc
// The session-id text that browsers send back: a strict parse of exactly 32
// hex digits.  Whatever the input, the parse must not read past it, must
// leave a zero GUID when it refuses, and an accepted text must come back
// (in lower case) from the GUID's own text form.
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ZelSessionTable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using Guid = CZelSessionTable::Guid_t;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    Guid g;
    g[0] = 0xFFFFFFFFu;                     // the parse must clear what was there
    bool ok = Guid::FromText(text, g);
    if (!ok) {
        if (!g.IsZero()) abort();
        return 0;
    }
    if (size != Guid::kTextLength) abort();
    std::string back = g.ToText();
    if (back.size() != Guid::kTextLength) abort();
    for (size_t i = 0; i < size; ++i)
        if (back[i] != static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])))) abort();
    Guid again;
    if (!Guid::FromText(back, again) || again != g) abort();
    return 0;
}
