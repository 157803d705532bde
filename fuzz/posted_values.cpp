// fuzz-libs: qor_gateway qor_fcgi
// The checks of a submitted form before it reaches the host, over
// arbitrary bytes: character references and control bytes in a posted
// value and the value's escaping when a refused form is shown again, a
// posted screen name against a stored header name, and a configured
// character-set name. The input is cut at its first 0x01 byte
// into the value (also the screen name) and the stored name.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ZelConfigParser.h"
#include "ZelConversation.h"
#include "xfcgicharref.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > (1 << 16)) return 0;
    const std::string all(reinterpret_cast<const char *>(data), size);
    const size_t cut = all.find('\x01');
    const std::string value = all.substr(0, cut);
    const std::string stored = cut == std::string::npos ? std::string() : all.substr(cut + 1);

    // A reference is refused only where there is one; with ISO-8859-1 a
    // C1 byte or a reference to a character outside the set is refused,
    // and only when there is a reference or a C1 byte (in the value as a
    // C string, up to its first NUL).
    const long reference = CZelConversation::FirstRefusedCharacter(value.c_str(), false);
    if (reference >= 0 && value.find("&#") == std::string::npos) std::abort();
    const std::string_view text(value.c_str());
    const bool c1 = std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x80 && static_cast<unsigned char>(c) <= 0x9F;
    });
    const long refused = CZelConversation::FirstRefusedCharacter(value.c_str(), true);
    if ((c1 && refused < 0) || (refused >= 0 && reference < 0 && !c1) || refused > 0x110000 ||
        reference > 0x110000)
        std::abort();
    if (refused >= 0 && !c1 && !xFcgiRefusedRef(refused, true)) std::abort();

    // A typed value shown again carries no markup: every "&" starts an
    // entity the escaping writes or a reference to a showable character.
    for (bool latin1 : {false, true}) {
        std::string shown;
        xFcgiEscapeTyped(text, latin1, shown);
        if (shown.find_first_of("<>\"'") != std::string::npos) std::abort();
        for (size_t at = shown.find('&'); at != std::string::npos; at = shown.find('&', at + 1)) {
            const std::string_view rest = std::string_view(shown).substr(at);
            long code = 0;
            const size_t length = xFcgiCharRef(rest, code);
            const bool entity = rest.rfind("&amp;", 0) == 0 || rest.rfind("&lt;", 0) == 0 ||
                                rest.rfind("&gt;", 0) == 0 || rest.rfind("&quot;", 0) == 0 ||
                                rest.rfind("&#39;", 0) == 0;
            const bool made = length > 0 && xFcgiShowableCode(code) &&
                              rest.substr(0, length) == "&#" + std::to_string(code) + ";";
            if (!entity && !made) std::abort();
        }
    }
    if (CZelConversation::SamePage(value, stored) != CZelConversation::SamePage(stored, value))
        std::abort();
    if (CZelConfigParser::IsSingleByteCharsetName(value) &&
        value.find_first_of("\r\n; \"") != std::string::npos)
        std::abort();
    CZelConversation::IsLatin1(value);
    return 0;
}
