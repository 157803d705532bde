// Session GUID: four 32-bit words and their text form, the session id that
// browsers carry (32 lower-case hex digits, word 0 first).
#include "ZelSessionTable.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "logprint.h"

using Guid = CZelSessionTable::Guid_t;

Guid &Guid::operator=(const uint32_t (&w)[4]) {
    std::memcpy(m_Words, w, sizeof m_Words);
    return *this;
}

uint32_t &Guid::operator[](int i) {
    LOG_ASSERT(i >= 0 && i < 4);
    return m_Words[(i >= 0 && i < 4) ? i : 0];
}

uint32_t Guid::operator[](int i) const {
    LOG_ASSERT(i >= 0 && i < 4);
    return m_Words[(i >= 0 && i < 4) ? i : 0];
}

bool Guid::operator==(const uint32_t (&w)[4]) const {
    return std::memcmp(m_Words, w, sizeof m_Words) == 0;
}

bool Guid::IsZero() const {
    return (m_Words[0] | m_Words[1] | m_Words[2] | m_Words[3]) == 0;
}

std::string Guid::ToText() const {
    char text[kTextLength + 1];
    std::snprintf(text, sizeof text, "%08" PRIx32 "%08" PRIx32 "%08" PRIx32 "%08" PRIx32,
                  m_Words[0], m_Words[1], m_Words[2], m_Words[3]);
    return std::string(text, kTextLength);
}

bool Guid::FromText(std::string_view text, Guid &out) {
    out = Guid();
    if (text.size() != kTextLength) return false;
    uint32_t words[4] = {0, 0, 0, 0};
    for (std::size_t i = 0; i < kTextLength; ++i) {
        char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        words[i / 8] = (words[i / 8] << 4) | digit;
    }
    out = words;
    return true;
}
