// String helpers: case-blind comparison, fixed-width copies, Base64 and
// shell quoting.
#include "qorstring.h"

#include <cctype>
#include <cstring>

namespace {

int upper(char c) { return std::toupper(static_cast<unsigned char>(c)); }

const char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Value of each 7-bit character; a blank is 62 because URL decoding turns
// '+' into a blank. Characters outside the alphabet (and all bytes from
// 0x80 on, see base64Value) decode as 0.
struct Base64Table {
    unsigned char value[128] = {};
    Base64Table()
    {
        for (int i = 0; i < 64; ++i)
            value[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<unsigned char>(i);
        value[static_cast<unsigned char>(' ')] = 62;
    }
};

unsigned base64Value(char c)
{
    static const Base64Table table;
    const unsigned char u = static_cast<unsigned char>(c);
    return u < 128 ? table.value[u] : 0;
}

} // namespace

int stricmp(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        const int d = upper(*a) - upper(*b);
        if (d != 0 || *a == '\0')
            return d;
    }
}

int strnicmp(const char *a, const char *b, int n)
{
    for (int i = 0; i < n; ++i) {
        const int d = upper(a[i]) - upper(b[i]);
        if (d != 0 || a[i] == '\0')
            return d;
    }
    return 0;
}

const char *stristr(const char *text, const char *part)
{
    const size_t len = std::strlen(part);
    for (; *text; ++text)
        if (strnicmp(text, part, static_cast<int>(len)) == 0)
            return text;
    return len == 0 ? text : nullptr;
}

char *mstrncpy(char *dst, const char *src, int n)
{
    int i = 0;
    for (; i < n && src && src[i]; ++i)
        dst[i] = src[i];
    for (; i < n; ++i)
        dst[i] = ' ';
    return dst;
}

char *cstrncpy(char *dst, const char *src, int n)
{
    size_t len = n > 0 && src ? strnlen(src, static_cast<size_t>(n)) : 0;
    while (len > 0 && src[len - 1] == ' ')
        --len;
    if (len)
        std::memcpy(dst, src, len);
    dst[len] = '\0';
    return dst;
}

char *toBase64(char *out, const void *in, int n)
{
    const unsigned char *p = static_cast<const unsigned char *>(in);
    if (n < 0)
        n = static_cast<int>(std::strlen(static_cast<const char *>(in)));
    char *o = out;
    for (int i = 0; i < n; i += 3) {
        const unsigned b0 = p[i];
        const unsigned b1 = i + 1 < n ? p[i + 1] : 0;
        const unsigned b2 = i + 2 < n ? p[i + 2] : 0;
        *o++ = kBase64Alphabet[b0 >> 2];
        *o++ = kBase64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        *o++ = i + 1 < n ? kBase64Alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=';
        *o++ = i + 2 < n ? kBase64Alphabet[b2 & 0x3F] : '=';
    }
    *o = '\0';
    return out;
}

char *fromBase64(char *out, const char *in, int n, int *outLen)
{
    if (n < 0)
        n = static_cast<int>(std::strlen(in));
    char *o = out;
    for (int i = 0; n - i > 3; i += 4) {
        const unsigned v = base64Value(in[i]) << 18 | base64Value(in[i + 1]) << 12 |
                           base64Value(in[i + 2]) << 6 | base64Value(in[i + 3]);
        *o++ = static_cast<char>(v >> 16);
        if (in[i + 2] == '=')
            break;
        *o++ = static_cast<char>(v >> 8);
        if (in[i + 3] == '=')
            break;
        *o++ = static_cast<char>(v);
    }
    *o = '\0';
    if (outLen)
        *outLen = static_cast<int>(o - out);
    return out;
}

std::string qorShellQuote(const std::string &text)
{
    // Inside single quotes the shell takes everything literally except the
    // quote itself, which is closed, escaped and reopened.
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
