// Hex and character dumps of memory, onto any stream or into the log.
#include "ebc2asc.h"
#include "logprint.h"
#include "logstate.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr int kHexPerLine = 24;
constexpr int kCharPerLine = 80;

const char kRuler[] =
    "        ....+....1....+....2....+....3....+....4....+....5....+....6"
    "....+....7....+....8\n";

std::string hexOffset(const char *fmt, unsigned v)
{
    char buf[32];
    snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// Whether the 16 bytes at p all repeat the 4-byte word w.
bool repeats16(const unsigned char *p, const unsigned char *w)
{
    for (int k = 0; k < 16; ++k)
        if (p[k] != w[k % 4])
            return false;
    return true;
}

// Lines of 24 bytes: offset, hex digits in groups of four bytes, and the
// characters. Runs that repeat the last word of a line are folded.
std::string hexDumpText(const unsigned char *p, unsigned base, int len,
                        const unsigned char *xlate)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    int i = 0;
    while (i < len) {
        int n = std::min(kHexPerLine, len - i);
        std::string hex, chars;
        for (int k = 0; k < n; ++k) {
            unsigned char c = p[i + k];
            if (k > 0 && k % 4 == 0)
                hex += ' ';
            hex += digits[c >> 4];
            hex += digits[c & 0xF];
            unsigned char t = xlate ? xlate[c] : c;
            chars += (t >= 0x20 && t <= 0x7E) ? static_cast<char>(t) : '.';
        }
        if (hex.size() < 53)
            hex.resize(53, ' ');
        out += hexOffset(" %6.6X : ", base + static_cast<unsigned>(i));
        out += hex;
        out += " '";
        out += chars;
        out += "'\n";
        i += n;
        // Fold a run that repeats the line's last word; every compared
        // byte lies inside the area.
        if (len - i >= 40) {
            const unsigned char *w = p + i - 4;
            if (repeats16(p + i, w) && repeats16(p + i + 24, w)) {
                out += hexOffset(" %6.6X : ", base + static_cast<unsigned>(i));
                while (len - i >= 32 && repeats16(p + i, w))
                    i += 16;
                out += hexOffset(" thru %6.6X same as last word\n",
                                 base + static_cast<unsigned>(i - 1));
            }
        }
    }
    return out;
}

bool isTextByte(unsigned char c)
{
    return (c >= 0x20 && c <= 0x7E) || c == '\f' || c == '\t' || c == '\r' || c == '\n';
}

// Ruler, then lines of 80 bytes with their 1-based position; control
// characters show as escapes, other bytes as '.'. Repeated lines fold.
std::string charDumpText(const unsigned char *p, int len)
{
    std::string out = kRuler;
    char num[32];
    int i = 0;
    while (i < len) {
        int n = std::min(kCharPerLine, len - i);
        std::string text;
        for (int k = 0; k < n; ++k) {
            unsigned char c = p[i + k];
            switch (c) {
            case '\r': text += "\\r"; break;
            case '\n': text += "\\n"; break;
            case '\\': text += "\\\\"; break;
            case '\t': text += "\\t"; break;
            case '\f': text += "\\f"; break;
            default: text += (c >= 0x20 && c <= 0x7E) ? static_cast<char>(c) : '.'; break;
            }
        }
        if (text.size() < static_cast<size_t>(kCharPerLine))
            text.resize(kCharPerLine, ' ');
        snprintf(num, sizeof num, "%5d : ", i + 1);
        out += num;
        out += text;
        out += " :\n";
        const unsigned char *line = p + i;
        i += n;
        if (n == kCharPerLine && len - i >= 2 * kCharPerLine &&
            memcmp(p + i, line, kCharPerLine) == 0 &&
            memcmp(p + i + kCharPerLine, line, kCharPerLine) == 0) {
            snprintf(num, sizeof num, "%5d : ", i + 1);
            out += num;
            while (len - i >= kCharPerLine && memcmp(p + i, line, kCharPerLine) == 0)
                i += kCharPerLine;
            snprintf(num, sizeof num, " thru %5d same as last\n", i);
            out += num;
        }
    }
    return out;
}

// "#---- title len=n EBCDIC ----" (or '~' for a title without '#'); no
// title just ends an open line.
void heading(const char *title, int len, const char *word)
{
    if (!title) {
        if (!logState.doLogNl)
            logWriteBlock("\n");
        return;
    }
    std::string h = title[0] == '#' ? "#---- " + std::string(title + 1)
                                    : "~---- " + std::string(title);
    h += " len=" + std::to_string(len) + " " + word + " ----\n";
    logMessage(h);
}

} // namespace

void dumpHex(FILE *stream, const void *mem, unsigned base, int len,
             const unsigned char *xlate)
{
    if (!stream || !mem || len < 1)
        return;
    std::string text = hexDumpText(static_cast<const unsigned char *>(mem), base, len, xlate);
    fwrite(text.data(), 1, text.size(), stream);
    if (!(logCtrlFlgs & LOG_NOFLUSH))
        fflush(stream);
}

int logDumpHex(const char *title, const void *mem, int len)
{
    if (!logState.file)
        return 0;
    bool ebcdic = logCtrlFlgs & LOG_EBCDIC;
    heading(title, len, ebcdic ? "EBCDIC" : "");
    if (!mem) {
        logWriteBlock("<NULL> memory address\n");
    } else if (len >= 1) {
        const unsigned char *p = static_cast<const unsigned char *>(mem);
        if (len >= 41 && logHexAdrs == 0 && !ebcdic) {
            int other = -1;
            for (int k = 0; k < len && other < 0; ++k)
                if (!isTextByte(p[k]))
                    other = k;
            if (other < 0) {
                logWriteBlock(charDumpText(p, len));
            } else if (other >= 240) {
                int text = other / kCharPerLine * kCharPerLine;
                logWriteBlock(charDumpText(p, text));
                logWriteBlock(hexDumpText(p + text, static_cast<unsigned>(text),
                                          len - text, nullptr));
            } else {
                logWriteBlock(hexDumpText(p, 0, len, nullptr));
            }
        } else {
            logWriteBlock(hexDumpText(p, static_cast<unsigned>(logHexAdrs), len,
                                      ebcdic ? ebcToAscTable : nullptr));
        }
    }
    logMessage("\n");
    logHexAdrs = 0;
    return 1;
}

int logDumpChar(const char *title, const void *mem, int len)
{
    if (!logState.file)
        return 0;
    heading(title, len, "");
    if (!mem)
        logWriteBlock("<NULL> memory address\n");
    else if (len >= 1)
        logWriteBlock(charDumpText(static_cast<const unsigned char *>(mem), len));
    logMessage("\n");
    logHexAdrs = 0;
    return 1;
}

std::string logSafeText(const std::string &text, size_t maxLen)
{
    std::string out = text.substr(0, maxLen);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7F) c = '?';
    return out;
}
