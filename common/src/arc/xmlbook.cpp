// Map files of the COBOL record mapping: reading, group and count links,
// field positions.
#include "xmlbook.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <strings.h>

#include "logprint.h"
#include "regularfile.h"

namespace {

constexpr const char* kVersion = "XB-1.0";
constexpr size_t kMaxName = 32;
constexpr int kMaxGroupDepth = 20;
constexpr long kMaxRecord = 16L * 1024 * 1024;

// The comma-separated fields of a line; a field in double quotes keeps its
// commas; blanks around a field are dropped.
std::vector<std::string> splitLine(const std::string& line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (true) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        std::string field;
        if (i < line.size() && line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            field = line.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
            i = close == std::string::npos ? line.size() : close + 1;
            while (i < line.size() && line[i] != ',') ++i;
        } else {
            const size_t comma = line.find(',', i);
            field = line.substr(i, comma == std::string::npos ? std::string::npos : comma - i);
            while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
            i = comma == std::string::npos ? line.size() : comma;
        }
        out.push_back(field);
        if (i >= line.size()) break;
        ++i;  // the comma
    }
    return out;
}

bool number(const std::string& text, long max, long& out) {
    if (text.empty()) {
        out = 0;
        return true;
    }
    long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > max) return false;
    }
    out = v;
    return true;
}

bool yes(const std::string& text) {
    return !text.empty() && std::strchr("1YyTt", text[0]) != nullptr;
}

class MapReader {
public:
    MapReader(FILE* f, const char* name) : f_(f), name_(name) {}

    std::unique_ptr<XmlBook> read() {
        auto map = std::make_unique<XmlBook>();
        map->name = name_;
        bool header = false;
        std::string line;
        while (nextLine(line)) {
            if (line.empty() || line[0] < '0' || line[0] > '9') continue;
            const std::vector<std::string> f = splitLine(line);
            if (!header) {
                if (!readHeader(*map, f)) return nullptr;
                header = true;
            } else if (!readField(*map, f)) {
                return nullptr;
            }
        }
        if (!header) return bad("has no header line");
        if (static_cast<int>(map->fields.size()) != map->nflds)
            return bad("has " + std::to_string(map->fields.size()) + " fields, its header says " +
                       std::to_string(map->nflds));
        if (!link(*map)) return nullptr;
        return map;
    }

private:
    FILE* f_;
    const char* name_;
    int lineNo_ = 0;

    bool nextLine(std::string& line) {
        line.clear();
        int c;
        while ((c = std::fgetc(f_)) != EOF && c != '\n') line += static_cast<char>(c);
        if (c == EOF && line.empty()) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++lineNo_;
        return true;
    }

    std::nullptr_t bad(const std::string& why) {
        logPrintf("#Map %s %s\n", name_, why.c_str());
        return nullptr;
    }
    bool badLine(const std::string& why) {
        logPrintf("#Map %s line %d: %s\n", name_, lineNo_, why.c_str());
        return false;
    }

    bool readHeader(XmlBook& map, const std::vector<std::string>& f) {
        long zero = -1, recsize, nflds, xmlsize, errsize = 28;
        if (f.size() < 5 || !number(f[0], 0, zero) || zero != 0)
            return badLine("the first line must be 0,<record size>,<fields>,<XML size>,<version>");
        if (f[4] != kVersion) {
            logPrintf("Cobol Copy Book version %s but want version %s\n", f[4].c_str(), kVersion);
            logPrintf("Rerun  qorcblxml on you COPY book to identify XML tags\n");
            return false;
        }
        if (!number(f[1], kMaxRecord, recsize) || recsize < 1)
            return badLine("bad record size '" + f[1] + "'");
        // A field names its group by a 16-bit signed index.
        if (!number(f[2], INT16_MAX, nflds)) return badLine("bad field count '" + f[2] + "'");
        if (!number(f[3], kMaxRecord * 16, xmlsize)) return badLine("bad XML size '" + f[3] + "'");
        if (f.size() > 5 && !f[5].empty() && !number(f[5], kMaxRecord, errsize))
            return badLine("bad error-area size '" + f[5] + "'");
        map.recsize = static_cast<int>(recsize);
        map.nflds = static_cast<int>(nflds);
        map.xmlsize = static_cast<int>(xmlsize);
        map.errsize = static_cast<int>(errsize);
        return true;
    }

    bool readField(XmlBook& map, std::vector<std::string> f) {
        if (f.size() < 9) return badLine("a field needs at least 9 items");
        f.resize(15);
        XmlBookFld d;
        long level, nlen, npl, loc, size, occurs;
        if (!number(f[0], 99, level) || level < 1) return badLine("bad level '" + f[0] + "'");
        d.name = f[1];
        if (d.name.empty()) return badLine("a field without a name");
        const char sign = f[2].empty() ? ' ' : f[2][0];
        d.signLdg = sign == '~';
        d.signTrl = sign == '!';
        d.sign = d.signLdg || d.signTrl || sign == '-';
        d.type = f[3].empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>(f[3][0])));
        if (!number(f[4], 65535, nlen)) return badLine("bad nlen '" + f[4] + "'");
        if (!number(f[5], 65535, npl)) return badLine("bad npl '" + f[5] + "'");
        if (!number(f[6], kMaxRecord, loc)) return badLine("bad location '" + f[6] + "'");
        if (!number(f[7], 65535, size)) return badLine("bad size '" + f[7] + "'");
        if (!number(f[8], 65535, occurs)) return badLine("bad occurs '" + f[8] + "'");
        d.level = static_cast<uint16_t>(level);
        d.nlen = static_cast<uint16_t>(nlen);
        d.npl = static_cast<uint16_t>(npl);
        d.loc = static_cast<uint32_t>(loc);
        d.size = static_cast<uint16_t>(size);
        d.occurs = static_cast<uint16_t>(occurs < 1 ? 1 : occurs);
        d.maxocc = d.occurs;
        d.emask = f[9];
        d.isAttr = yes(f[10]);
        d.hasNameSpace = yes(f[11]);
        d.toUpper = yes(f[12]);
        d.countIn = f[13];
        d.identify = f[14];
        map.fields.push_back(std::move(d));
        return true;
    }

    // Enclosing groups and count fields.
    bool link(XmlBook& map) {
        std::vector<size_t> groups;
        for (size_t i = 0; i < map.fields.size(); ++i) {
            XmlBookFld& d = map.fields[i];
            while (!groups.empty() && map.fields[groups.back()].level >= d.level) groups.pop_back();
            d.ownerPos = groups.empty() ? -1 : static_cast<int16_t>(groups.back());
            if (d.type == 'G') {
                if (groups.size() >= static_cast<size_t>(kMaxGroupDepth)) {
                    bad("nests groups deeper than " + std::to_string(kMaxGroupDepth) +
                        " levels at " + d.name);
                    return false;
                }
                groups.push_back(i);
            }
        }
        for (XmlBookFld& d : map.fields) {
            if (d.countIn.empty()) continue;
            for (size_t k = 0; k < map.fields.size(); ++k)
                if (strcasecmp(map.fields[k].name.c_str(), d.countIn.c_str()) == 0) {
                    d.countInPos = static_cast<uint16_t>(k);
                    break;
                }
            if (d.countInPos == kXmlBookNoField) {
                bad("has no count field " + d.countIn + " for " + d.name);
                return false;
            }
            if (map.fields[d.countInPos].type == 'G') {
                bad("counts " + d.name + " in the group " + d.countIn);
                return false;
            }
        }
        return true;
    }
};

// Digits a numeric field holds.
long digitsOf(const XmlBookFld& d) {
    switch (d.type) {
    case 'D': return d.size - ((d.signLdg || d.signTrl) ? 1 : 0);
    case 'P': return 2L * d.size - 1;
    case 'B': return 2L * d.size + 2;  // more than any 8-byte value has
    default: return -1;
    }
}

}  // namespace

XmlBook* XmlBookRead(FILE* f, const char* name) {
    if (!f) return nullptr;
    MapReader reader(f, name ? name : "");
    return reader.read().release();
}

XmlBook* XmlBookLoad(const char* name) {
    if (!name || !*name || std::strlen(name) > kMaxName || std::strchr(name, '/')) {
        logPrintf("#Map name '%s' refused\n", name ? name : "");
        return nullptr;
    }
    const char* root = std::getenv("QORROOT");
    const std::string path =
        std::string(root && *root ? root : "/usr/qorix") + "/qorsoa/" + name + ".mapxml";
    std::string why;
    UniqueFile f = OpenRegularFile(path, &why);
    if (!f) {
        logPrintf("#Failed to open %s because '%s'\n", path.c_str(), why.c_str());
        return nullptr;
    }
    return XmlBookRead(f.get(), name);
}

bool XmlBookPrep(XmlBook* map) {
    if (!map) return false;
    map->prepared = false;
    map->reclen = 0;
    for (XmlBookFld& d : map->fields) {
        d.dataPos = d.loc;
        if (map->forDps && d.type == 'B' && (d.size == 2 || d.size == 4 || d.size == 8))
            d.dataPos = (d.loc + d.size - 1) / d.size * d.size;
    }
    for (size_t i = 0; i < map->fields.size(); ++i) {
        const XmlBookFld& d = map->fields[i];
        auto refuse = [&](const char* why) {
            logPrintf("#Map %s field %s (%c, %u bytes at %u): %s\n", map->name.c_str(),
                      d.name.c_str(), d.type, d.size, d.dataPos, why);
            return false;
        };
        if (d.size == 0) return refuse("has no size");
        if (d.type == 'B' && d.size > 8) return refuse("binary fields hold at most 8 bytes");
        const long digits = digitsOf(d);
        if (digits >= 0 && (digits < 1 || d.npl > digits))
            return refuse("has more decimal places than digits");
        const unsigned long long span = static_cast<unsigned long long>(d.size) * d.occurs;
        unsigned long long end = d.dataPos + span;
        if (d.ownerPos >= 0) {
            const XmlBookFld& g = map->fields[static_cast<size_t>(d.ownerPos)];
            if (d.dataPos < g.dataPos || end > static_cast<unsigned long long>(g.dataPos) + g.size)
                return refuse("lies outside its group");
        }
        for (int o = d.ownerPos; o >= 0; o = map->fields[static_cast<size_t>(o)].ownerPos) {
            const XmlBookFld& g = map->fields[static_cast<size_t>(o)];
            end += static_cast<unsigned long long>(g.occurs - 1) * g.size;
        }
        if (end > static_cast<unsigned long long>(map->recsize))
            return refuse("lies beyond the record");
        if (end > map->reclen) map->reclen = static_cast<unsigned>(end);
    }
    map->prepared = true;
    return true;
}

void XmlBookFree(XmlBook* map) { delete map; }
