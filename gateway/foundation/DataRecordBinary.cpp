// CBinaryItem: unsigned big-endian binary of 1, 2 or 4 bytes.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "DataRecord.h"
#include "ZelBuffer.h"

void CBinaryItem::SetValue(CBuffer &buffer, const std::string &value) const {
    // Decimal as a 32-bit strtoul reads it: leading blanks, a sign (a '-'
    // negates modulo 2^32), digits; a magnitude above 32 bits is kept at
    // 0xFFFFFFFF.
    const char *s = value.c_str();
    while (std::isspace(static_cast<unsigned char>(*s))) ++s;
    const bool negative = *s == '-';
    if (*s == '+' || *s == '-') ++s;
    unsigned long long v = 0;
    if (std::isdigit(static_cast<unsigned char>(*s))) {
        errno = 0;
        v = std::strtoull(s, nullptr, 10);
        if (errno == ERANGE || v > 0xFFFFFFFFull)
            v = 0xFFFFFFFFull;
        else if (negative)
            v = static_cast<uint32_t>(0u - static_cast<uint32_t>(v));
    }
    SetValue(buffer, static_cast<unsigned>(v));
}

void CBinaryItem::SetValue(CBuffer &buffer, unsigned value) const {
    if (m_nLength != 1 && m_nLength != 2 && m_nLength != 4)
        throw CZelDataException(CZelDataException::BadBinarySize, m_strName);
    std::string bytes(m_nLength, '\0');
    for (unsigned k = 0; k < m_nLength; ++k)
        bytes[m_nLength - 1 - k] = static_cast<char>(value >> (8 * k) & 0xFF);
    WriteRaw(buffer, bytes);
}

void CBinaryItem::GetData(std::string &out, const CBuffer &buffer) const {
    if (m_nLength != 1 && m_nLength != 2 && m_nLength != 4)
        throw CZelDataException(CZelDataException::BadBinarySize, m_strName);
    // Bytes past the end of the data read as zero.
    const std::string raw = ReadRaw(buffer);
    uint32_t v = 0;
    for (unsigned k = 0; k < m_nLength; ++k)
        v = v << 8 | (k < raw.size() ? static_cast<unsigned char>(raw[k]) : 0u);
    out = std::to_string(v);
}
