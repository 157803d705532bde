// The engine's screens: program messages built from the script, the PIB,
// per-session variables, and screen formats read from the formats directory.
#include "Engine.h"

#include "EngineUtil.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>

namespace dtphost {

using namespace detail;

namespace {

// Third MCS id of every screen: marks ids that come from this host.
constexpr uint32_t kIdMark = 0x51524958;  // "QRIX"
// The largest .t3z that fits a format reply's 16-bit parameter lengths.
constexpr size_t kMaxT3z = 65000;

// A zoned decimal number as text: its digits without leading zeros, after
// "-" when negative. The last byte may carry the sign: 'p' to 'y' (a digit
// with 0x40 set) or "}JKLMNOPQR" negative, "{ABCDEFGHI" positive. Other
// bytes (blanks) are skipped.
std::string zonedText(const std::string& zoned)
{
    static const char kNegative[] = "}JKLMNOPQR", kPositive[] = "{ABCDEFGHI";
    std::string digits;
    bool negative = false;
    for (size_t k = 0; k < zoned.size(); ++k) {
        const char c = zoned[k];
        const bool last = k + 1 == zoned.size();
        if (c >= '0' && c <= '9') {
            digits += c;
        } else if (last && c >= 'p' && c <= 'y') {
            digits += static_cast<char>(c - 'p' + '0');
            negative = true;
        } else if (last && c && std::strchr(kNegative, c)) {
            digits += static_cast<char>(std::strchr(kNegative, c) - kNegative + '0');
            negative = true;
        } else if (last && c && std::strchr(kPositive, c)) {
            digits += static_cast<char>(std::strchr(kPositive, c) - kPositive + '0');
        }
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty()) return "0";
    return (negative ? "-" : "") + digits;
}

}  // namespace

std::string Engine::expand(const std::string& text, const Session& s) const
{
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '$') {
            out += text[i++];
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '$') {
            out += '$';
            i += 2;
            continue;
        }
        size_t close = text.find('}', i);
        if (i + 1 >= text.size() || text[i + 1] != '{' || close == std::string::npos) {
            out += text[i++];
            continue;
        }
        std::string var = text.substr(i + 2, close - i - 2);
        std::string value;
        unsigned a = 0, b = 0;
        char tail = 0;
        if (var == "L") value = hex(s.L);
        else if (var == "R") value = hex(s.R);
        else if (var == "N") value = std::to_string(s.inputs);
        else if (var == "S") value = std::to_string(s.screens);
        else if (var == "TRX") value = s.trid;
        else if (var == "CDA") value = s.cda;
        else if (var == "USER") value = s.user;
        else if (var == "KEY") value = std::string(1, s.key);
        else if ((std::sscanf(var.c_str(), "IN:%u:%u%c", &a, &b, &tail) == 2 ||
                  std::sscanf(var.c_str(), "NUM:%u:%u%c", &a, &b, &tail) == 2) && b <= 32000) {
            for (unsigned k = 0; k < b; ++k)
                value += a + k < s.input.size() ? static_cast<char>(s.input[a + k]) : ' ';
            if (var[0] == 'N') value = zonedText(value);
        } else {
            value = text.substr(i, close - i + 1);  // unknown: kept as written
        }
        out += value;
        i = close + 1;
    }
    return out;
}

Bytes Engine::screenData(const Session& s, const ScreenDef& sc, bool eScreen) const
{
    size_t size = sc.size;
    for (const FieldDef& f : sc.fields) size = std::max<size_t>(size, f.offset + f.length);
    Bytes data(size, ' ');
    bool anyInput = false;
    for (const FieldDef& f : sc.fields) {
        std::string text = expand(f.text, s);
        for (unsigned k = 0; k < f.length; ++k)
            data[f.offset + k] = k < text.size() ? static_cast<uint8_t>(text[k]) : ' ';
        anyInput = anyInput || f.input;
    }
    if (eScreen) {
        // The terminal keeps what the user typed: input fields come as 0xFF.
        for (const FieldDef& f : sc.fields)
            if (f.input || !anyInput) std::fill_n(data.begin() + f.offset, f.length, 0xFF);
        if (!anyInput && sc.fields.empty()) std::fill(data.begin(), data.end(), 0xFF);
    }
    return data;
}

Bytes Engine::buildPib(const Session& s, const ScreenDef& sc) const
{
    Bytes p(config_.pibLength, 0);
    putU32(p, 0, s.L);
    putU32(p, 4, s.screens);
    putText(p, 8, s.trid, 8);
    putText(p, 16, "DTPH", 4);
    putText(p, 20, s.user, 8);
    putU32(p, 28, 0x00FFFFFF);
    putU32(p, 32, s.inputs);
    p[47] = 1;
    p[50] = ' ';
    putText(p, 54, "", 3);
    p[85] = ' ';
    putText(p, 90, sc.name, 8);
    p[98] = ' ';
    p[108] = ' ';
    if (config_.pibLength == kPibLong) {
        putText(p, 112, config_.locap, 8);
        putText(p, 120, s.gatewayLocap, 8);
        std::string date = config_.pibDate;
        if (date.empty()) {
            time_t now = time(nullptr);
            tm t{};
            localtime_r(&now, &t);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%02d%02d%02d%02d%02d%02d", t.tm_year % 100, t.tm_mon + 1,
                          t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
            date = buf;
        }
        putText(p, 128, date, 12);
    }
    return p;
}

Bytes Engine::programMessage(Session& s, const ScreenDef& sc, uint32_t receiver, bool eScreen)
{
    ++s.screens;
    const uint32_t ids[4] = {s.L, s.screens, kIdMark, s.R};
    std::copy(ids, ids + 4, s.ids);
    Bytes data = screenData(s, sc, eScreen);
    McsHeader h;
    h.name = sc.name;
    h.terminal = sc.terminal;
    h.filler = sc.filler;
    h.size = static_cast<uint16_t>(data.size());
    h.count = static_cast<uint16_t>(data.size());
    Bytes mcs = buildMcsHeader(h);
    mcs.insert(mcs.end(), data.begin(), data.end());
    s.pib = buildPib(s, sc);
    std::string cursor = sc.cursor >= 0 ? std::string(static_cast<size_t>(sc.cursor), ' ') + "*" : "";
    std::string error = expand(sc.error, s);
    // Each parameter length and their sum (value + 4 each) are 16-bit words:
    // a text that would not fit is cut, the error text first, then the FCC.
    std::string fcc = sc.fcc;
    const size_t fixed = s.pib.size() + mcs.size() + cursor.size() + 5 * 4;
    const size_t room = fixed < 0xFFFF ? 0xFFFF - fixed : 0;
    if (fcc.size() > room) fcc.resize(room);
    if (error.size() > room - fcc.size()) error.resize(room - fcc.size());
    std::vector<McsParam> params = {
        {s.pib}, {mcs}, {Bytes(fcc.begin(), fcc.end())},
        {Bytes(cursor.begin(), cursor.end())}, {Bytes(error.begin(), error.end())}};
    char letter = eScreen ? 'E' : sc.kind;
    return buildMcso(receiver, s.ids, kMcsFromProgram, mcsFunctionIndex(letter), params);
}

bool Engine::loadFormat(const std::string& name, FormatRecord& rec, std::string& why) const
{
    if (config_.formatsDir.empty()) {
        why = "asked, but no formats directory is set";
        return false;
    }
    bool safe = !name.empty();
    for (char c : name)
        safe = safe && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' ||
                        c == '#' || c == '@' || c == '-');
    if (!safe) {
        why = "is not a usable file name";
        return false;
    }
    std::string lower, upper;
    for (char c : name) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    for (const std::string& base : {name, lower, upper}) {
        for (const char* ext : {".t3z", ".T3Z"}) {
            std::string path = config_.formatsDir + "/" + base + ext;
            struct stat st {};
            if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            if (st.st_size > static_cast<off_t>(kMaxT3z)) {
                why = "file " + path + " is larger than " + std::to_string(kMaxT3z) + " bytes";
                return false;
            }
            std::ifstream in(path, std::ios::binary);
            rec.t3z.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (!in.good() && !in.eof()) {
                why = "file " + path + " cannot be read";
                return false;
            }
            tm t{};
            time_t mtime = st.st_mtime;
            localtime_r(&mtime, &t);
            rec.year = t.tm_year + 1900;
            rec.month = t.tm_mon + 1;
            rec.day = t.tm_mday;
            rec.hour = t.tm_hour;
            rec.minute = t.tm_min;
            rec.second = t.tm_sec;
            rec.type = rec.t3z.size() > 30 ? rec.t3z[30] : ':';
            rec.description = "Screen format " + name;
            return true;
        }
    }
    why = "not found in " + config_.formatsDir;
    return false;
}

}  // namespace dtphost
