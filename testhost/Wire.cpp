#include "Wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace dtphost {

uint16_t mcsFunctionIndex(char letter)
{
    static const char kLetters[] = "OVIEAYLMRT01F";
    const char* p = letter ? std::strchr(kLetters, letter) : nullptr;
    return p ? static_cast<uint16_t>(p - kLetters + 1) : 0;
}

std::string className(uint8_t cls)
{
    switch (cls) {
    case kOpen: return "Open";
    case kAccept: return "Accept";
    case kReject: return "Reject";
    case kClose: return "Close";
    case kPrst: return "PRST";
    case kProk: return "PROK";
    case kPren: return "PREN";
    case kMsgo: return "MSGO";
    case kMcso: return "MCSO";
    case kDezUrRead: return "DezUrRead";
    case kDezUrSend: return "DezUrSend";
    case kHello: return "HelloDTP";
    default: return "<" + std::to_string(cls) + ">";
    }
}

// ---------------------------------------------------------------------------
// Byte helpers

void putU16(Bytes& b, size_t at, uint16_t v)
{
    if (b.size() < at + 2) b.resize(at + 2, 0);
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void putU32(Bytes& b, size_t at, uint32_t v)
{
    if (b.size() < at + 4) b.resize(at + 4, 0);
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

uint16_t getU16(const uint8_t* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t getU32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

void appendU16(Bytes& b, uint16_t v) { putU16(b, b.size(), v); }
void appendU32(Bytes& b, uint32_t v) { putU32(b, b.size(), v); }

void putText(Bytes& b, size_t at, const std::string& text, size_t width)
{
    if (b.size() < at + width) b.resize(at + width, 0);
    for (size_t i = 0; i < width; ++i)
        b[at + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

void appendText(Bytes& b, const std::string& text, size_t width)
{
    putText(b, b.size(), text, width);
}

std::string getName(const uint8_t* p, size_t width)
{
    std::string s;
    for (size_t i = 0; i < width && p[i] != 0; ++i) s += static_cast<char>(p[i]);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

Bytes frame(const Bytes& body)
{
    Bytes out;
    out.reserve(body.size() + 4);
    appendU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// ---------------------------------------------------------------------------
// Builders

Bytes buildHello(const std::string& locap)
{
    Bytes b = {'t', 'D', 'T', 'P'};
    appendU16(b, 33);
    b.push_back('W');
    b.push_back(0);
    appendText(b, locap, 8);
    return b;
}

Bytes buildSessHdr(uint8_t cls, uint32_t sender, uint32_t receiver,
                   const std::string& locap, uint8_t reason, const uint8_t* tail)
{
    Bytes b(kSessHdrSize, 0);
    b[0] = cls;
    putU32(b, off::kSender, sender);
    putU32(b, off::kReceiver, receiver);
    if (tail) {
        std::memcpy(&b[off::kSessLocap], tail, kSessHdrSize - off::kSessLocap);
    } else {
        putText(b, off::kSessLocap, locap, 8);
        putText(b, off::kSessAddr, "", 8);
        b[28] = 0x09;
        b[30] = 24;
        b[31] = 80;
    }
    b[off::kRejectReason] = reason;
    return b;
}

Bytes buildProk(uint32_t receiver)
{
    Bytes b(kProkSize, 0);
    b[0] = kProk;
    putU32(b, 4, receiver);
    return b;
}

Bytes buildPren(uint32_t receiver, char reason, const std::string& cda)
{
    Bytes b(kPrenSize, 0);
    b[0] = kPren;
    putU32(b, off::kPrenRecv, receiver);
    b[off::kPrenReason] = static_cast<uint8_t>(reason);
    b[off::kPrenReason + 1] = ' ';
    putU32(b, off::kPrenCdaLen, static_cast<uint32_t>(cda.size()));
    b.insert(b.end(), cda.begin(), cda.end());
    return b;
}

Bytes buildMsgo()
{
    return Bytes{kMsgo, 0, 0, 0};
}

Bytes buildMcso(uint32_t receiver, const uint32_t ids[4], uint16_t subType,
                uint16_t index, const std::vector<McsParam>& params)
{
    Bytes b(kMcsoHdrSize, 0);
    b[0] = kMcso;
    putU32(b, 4, receiver);
    putText(b, 8, "", 12);
    for (int i = 0; i < 4; ++i) appendU32(b, ids[i]);
    appendU16(b, subType);
    appendU16(b, index);
    appendU16(b, static_cast<uint16_t>(params.size()));
    size_t sum = 0;
    for (const McsParam& p : params) sum += p.value.size() + 4;
    appendU16(b, static_cast<uint16_t>(sum));
    for (const McsParam& p : params) {
        appendU16(b, static_cast<uint16_t>(p.value.size()));
        appendU16(b, kParamBytes);
        b.insert(b.end(), p.value.begin(), p.value.end());
    }
    return b;
}

Bytes buildMcsHeader(const McsHeader& h)
{
    Bytes b;
    appendText(b, h.name, 8);
    appendText(b, h.terminal, 4);
    b.push_back(static_cast<uint8_t>(h.function));
    b.push_back(static_cast<uint8_t>(h.hold));
    appendU16(b, h.size);
    b.push_back(static_cast<uint8_t>(h.status));
    b.push_back(static_cast<uint8_t>(h.filler));
    appendU16(b, h.count);
    return b;
}

Bytes buildFormatRecord(const FormatRecord& r)
{
    Bytes b(kFormatRecordSize, 0);
    b[0] = r.type;
    putText(b, 1, r.group, 8);
    putText(b, 9, r.name, 8);
    b[20] = static_cast<uint8_t>(r.year < 1970 ? 0 : r.year - 1970);
    b[21] = static_cast<uint8_t>(r.month & 0x0F);
    b[22] = static_cast<uint8_t>(r.day & 0x1F);
    b[23] = static_cast<uint8_t>(r.hour & 0x1F);
    b[24] = static_cast<uint8_t>(r.minute & 0x3F);
    b[25] = static_cast<uint8_t>(r.second & 0x3F);
    putText(b, 28, r.description, 40);
    b.insert(b.end(), r.t3z.begin(), r.t3z.end());
    return b;
}

Bytes buildDezUr(uint8_t cls, uint32_t receiver, const std::string& group,
                 const std::string& form, const std::string& headerText,
                 const std::string& screenText)
{
    Bytes b(kDezUrSize, 0);
    b[0] = cls;
    putU32(b, 4, receiver);
    putText(b, 8, "", 8);
    b[20] = ' ';
    putText(b, off::kDzGroup, group, 8);
    putText(b, off::kDzForm, form, 24);
    if (cls == kDezUrSend) {
        // The header text, a NUL, the screen text, a NUL; the words at 60 and
        // 62 count the texts alone, and the reader skips one byte between.
        putU16(b, 60, static_cast<uint16_t>(headerText.size()));
        putU16(b, 62, static_cast<uint16_t>(screenText.size()));
        b.insert(b.end(), headerText.begin(), headerText.end());
        b.push_back(0);
        b.insert(b.end(), screenText.begin(), screenText.end());
        b.push_back(0);
    }
    return b;
}

// ---------------------------------------------------------------------------
// Decoders

namespace {

std::string hexByte(uint8_t v)
{
    char s[8];
    std::snprintf(s, sizeof s, "%02X", v);
    return s;
}

// Compares body[at..] with the expected bytes and adds a warning naming the
// first difference.
void expectBytes(const Bytes& body, size_t at, std::initializer_list<uint8_t> want,
                 const char* what, std::vector<std::string>& warnings)
{
    size_t i = 0;
    for (uint8_t w : want) {
        if (body[at + i] != w) {
            warnings.push_back(std::string(what) + ": byte " + std::to_string(at + i) +
                               " is " + hexByte(body[at + i]) + ", expected " + hexByte(w));
            return;
        }
        ++i;
    }
}

void expectFill(const Bytes& body, size_t at, size_t n, uint8_t fill, const char* what,
                std::vector<std::string>& warnings)
{
    for (size_t i = at; i < at + n; ++i) {
        if (body[i] != fill) {
            warnings.push_back(std::string(what) + ": byte " + std::to_string(i) + " is " +
                               hexByte(body[i]) + ", expected " + hexByte(fill));
            return;
        }
    }
}

std::string tooShort(const Bytes& body, size_t need, const char* what)
{
    return std::string(what) + " of " + std::to_string(body.size()) +
           " bytes, at least " + std::to_string(need) + " needed";
}

}  // namespace

std::string decodeHello(const Bytes& body, Hello& out, std::vector<std::string>& warnings)
{
    if (body.size() < kHelloSize) return tooShort(body, kHelloSize, "HelloDTP");
    if (std::memcmp(body.data(), "tDTP", 4) != 0) return "HelloDTP without the tDTP magic";
    expectBytes(body, 4, {0x00, 0x21, 'W', 0x00}, "HelloDTP", warnings);
    if (body.size() != kHelloSize)
        warnings.push_back("HelloDTP of " + std::to_string(body.size()) + " bytes, expected 16");
    out.locap = getName(&body[8], 8);
    return {};
}

std::string decodeSessHdr(const Bytes& body, SessHdr& out, std::vector<std::string>& warnings)
{
    if (body.size() < kSessHdrSize) return tooShort(body, kSessHdrSize, "session header");
    const char* what = body[0] == kOpen ? "OPEN" : "CLOSE";
    out.cls = body[0];
    expectFill(body, 1, 3, 0, what, warnings);
    out.sender = getU32(&body[off::kSender]);
    out.receiver = getU32(&body[off::kReceiver]);
    out.locap = getName(&body[off::kSessLocap], 8);
    out.tail = &body[off::kSessLocap];
    // The client address is eight blanks or blank, FF, four octets, two blanks.
    const uint8_t* a = &body[off::kSessAddr];
    bool blanks = std::all_of(a, a + 8, [](uint8_t c) { return c == ' '; });
    if (!blanks && !(a[0] == ' ' && a[1] == 0xFF && a[6] == ' ' && a[7] == ' '))
        warnings.push_back(std::string(what) + ": client address bytes 20-27 malformed");
    expectBytes(body, off::kSessTail, {0x09, 0x00, 0x18, 0x50}, what, warnings);
    if (body.size() != kSessHdrSize)
        warnings.push_back(std::string(what) + " of " + std::to_string(body.size()) +
                           " bytes, expected 32");
    return {};
}

std::string decodePrst(const Bytes& body, Prst& out, std::vector<std::string>& warnings)
{
    if (body.size() < kPrstSize) return tooShort(body, kPrstSize, "PRST");
    uint32_t n = getU32(&body[off::kPrstCdaLen]);
    if (n > body.size() - kPrstSize)
        return "PRST CDA length " + std::to_string(n) + " exceeds the " +
               std::to_string(body.size() - kPrstSize) + " bytes present";
    if (n < body.size() - kPrstSize)
        warnings.push_back("PRST has " + std::to_string(body.size() - kPrstSize - n) +
                           " bytes after its CDA");
    expectFill(body, 1, 3, 0, "PRST", warnings);
    // The Unix user id: up to 8 characters, then NULs up to byte 20; an id
    // of 9 or more characters is cut to 8 and leaves byte 20 blank.
    {
        const uint8_t* u = &body[off::kPrstUnixUser];
        size_t chars = 0;
        while (chars < 8 && u[chars] != 0 && u[chars] != ' ') ++chars;
        bool ok = std::all_of(u + chars, u + 9, [](uint8_t c) { return c == 0; }) ||
                  (chars == 8 && u[8] == ' ');
        if (!ok) warnings.push_back("PRST: Unix user id bytes 12-20 malformed");
    }
    expectBytes(body, 21, {0x03, 0x01, 0x00}, "PRST", warnings);
    expectFill(body, 32, 4, ' ', "PRST", warnings);
    expectFill(body, 44, 16, ' ', "PRST", warnings);
    expectBytes(body, off::kPrstFlags, {0xFF, 0xFF, 0xFF, 0x11}, "PRST flags", warnings);
    expectBytes(body, 64, {0x00, 0x18, 0x00, 0x50, 0x0E, 0x00, 0x00, 0x00}, "PRST", warnings);
    expectFill(body, 72, 24, 0, "PRST", warnings);
    out.receiver = getU32(&body[off::kPrstRecv]);
    out.user = getName(&body[off::kPrstUser], 8);
    out.pid = getName(&body[off::kPrstPid], 8);
    if (!out.pid.empty()) {
        bool ok = out.pid.size() == 8 && out.pid[0] == '#' &&
                  out.pid.find_first_not_of("0123456789", 1) == std::string::npos;
        if (!ok) warnings.push_back("PRST pid-pool value '" + out.pid + "' is not #nnnnnnn");
    }
    out.trid = getName(&body[off::kPrstTrid], 8);
    out.cda.assign(body.begin() + kPrstSize, body.begin() + kPrstSize + n);
    return {};
}

std::string decodeMcso(const Bytes& body, McsMessage& out, std::vector<std::string>& warnings)
{
    if (body.size() < kMcsParamsOff) return tooShort(body, kMcsParamsOff, "MCSO");
    expectFill(body, 1, 3, 0, "MCSO", warnings);
    expectFill(body, 8, 12, ' ', "MCSO", warnings);
    expectFill(body, 20, 4, 0, "MCSO", warnings);
    out.receiver = getU32(&body[4]);
    for (int i = 0; i < 4; ++i) out.ids[i] = getU32(&body[off::kMcsIds + 4 * i]);
    out.subType = getU16(&body[off::kMcsType]);
    out.index = getU16(&body[off::kMcsIndex]);
    out.count = getU16(&body[off::kMcsCount]);
    out.paramBytes = getU16(&body[off::kMcsParamBytes]);
    size_t pos = kMcsParamsOff, sum = 0;
    for (unsigned i = 0; i < out.count; ++i) {
        if (body.size() - pos < 4)
            return "MCS parameter " + std::to_string(i) + " of " + std::to_string(out.count) +
                   " starts past the end of the packet";
        Param p;
        uint16_t len = getU16(&body[pos]);
        p.type = getU16(&body[pos + 2]);
        switch (p.type) {
        case 0: p.length = 1; break;
        case 1: p.length = 2; break;
        case 2: p.length = 4; break;
        case 3: p.length = len; break;
        default: return "MCS parameter " + std::to_string(i) + " has unknown type " +
                        std::to_string(p.type);
        }
        if (p.length != len)
            warnings.push_back("MCS parameter " + std::to_string(i) + " of type " +
                               std::to_string(p.type) + " gives length " + std::to_string(len));
        p.offset = pos + 4;
        if (p.length > body.size() - p.offset)
            return "MCS parameter " + std::to_string(i) + " of " + std::to_string(p.length) +
                   " bytes runs past the end of the packet";
        pos = p.offset + p.length;
        sum += p.length + 4;
        out.params.push_back(p);
    }
    if (sum != out.paramBytes)
        warnings.push_back("MCS parameter bytes word is " + std::to_string(out.paramBytes) +
                           ", the parameters take " + std::to_string(sum));
    if (pos != body.size())
        warnings.push_back("MCSO has " + std::to_string(body.size() - pos) +
                           " bytes after its parameters");
    return {};
}

std::string decodeDezUrRead(const Bytes& body, DezUrRead& out, std::vector<std::string>& warnings)
{
    if (body.size() < kDezUrSize) return tooShort(body, kDezUrSize, "DezUrRead");
    expectFill(body, 1, 3, 0, "DezUrRead", warnings);
    out.receiver = getU32(&body[4]);
    out.group = getName(&body[off::kDzGroup], 8);
    out.form = getName(&body[off::kDzForm], 24);
    size_t pos = kDezUrSize;
    for (int i = 0; i < 4; ++i) {
        size_t len = getU16(&body[off::kDzLengths + 2 * i]);
        if (len == 0) continue;
        if (len > body.size() - pos)
            return "DezUrRead text " + std::to_string(i + 1) + " of " + std::to_string(len) +
                   " bytes runs past the end of the packet";
        // Each length counts the NUL that ends its text.
        if (body[pos + len - 1] != 0)
            warnings.push_back("DezUrRead text " + std::to_string(i + 1) + " does not end in NUL");
        out.texts[i].assign(reinterpret_cast<const char*>(&body[pos]), len - 1);
        pos += len;
    }
    if (pos != body.size())
        warnings.push_back("DezUrRead has " + std::to_string(body.size() - pos) +
                           " bytes after its texts");
    return {};
}

}  // namespace dtphost
