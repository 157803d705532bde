// Wire layer of the stand-in host: the DTP frame, the packet bodies the
// host sends, and strict decoders for the packets a gateway sends.
//
// Every body is built byte by byte at fixed offsets into a std::vector;
// no structure is laid over wire bytes, so the layout never depends on the
// compiler.  Offsets are body offsets (the 4-byte length word excluded).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dtphost {

using Bytes = std::vector<uint8_t>;

// Largest frame body either side accepts; every inner length is 16 bits.
constexpr uint32_t kMaxFrameBody = 1u << 20;

// Packet classes (body byte 0).
enum PacketClass : uint8_t {
    kOpen = 1, kAccept = 2, kReject = 3, kClose = 4, kPrst = 6, kProk = 7,
    kPren = 8, kMsgo = 11, kMcso = 30, kDezUrRead = 48, kDezUrSend = 49,
    kHello = 116,
};

// Fixed sizes of the bodies.
constexpr size_t kHelloSize = 16;
constexpr size_t kSessHdrSize = 32;
constexpr size_t kPrstSize = 108;    // up to and including the CDA length
constexpr size_t kProkSize = 20;
constexpr size_t kPrenSize = 28;     // up to and including the CDA length
constexpr size_t kMsgoSize = 4;
constexpr size_t kMcsoHdrSize = 24;  // the MCS sub-packet starts here
constexpr size_t kMcsSubHdrSize = 24;
constexpr size_t kMcsParamsOff = kMcsoHdrSize + kMcsSubHdrSize;  // 48
constexpr size_t kDezUrSize = 64;
constexpr size_t kMcsHeaderSize = 20;  // the MCS header inside the screen data
constexpr size_t kPibShort = 128;
constexpr size_t kPibLong = 156;
constexpr size_t kFormatRecordSize = 68;  // format record before the .t3z bytes

// Field offsets used by more than one builder or decoder.
namespace off {
constexpr size_t kSender = 4, kReceiver = 8, kSessLocap = 12, kSessAddr = 20,
                 kSessTail = 28, kRejectReason = 29;
constexpr size_t kPrstRecv = 4, kPrstAddr = 8, kPrstUnixUser = 12,
                 kPrstUser = 24, kPrstPid = 36, kPrstFlags = 60,
                 kPrstTrid = 96, kPrstCdaLen = 104;
constexpr size_t kPrenRecv = 4, kPrenReason = 20, kPrenCdaLen = 24;
constexpr size_t kMcsIds = 24, kMcsType = 40, kMcsIndex = 42, kMcsCount = 44,
                 kMcsParamBytes = 46;
constexpr size_t kDzGroup = 24, kDzForm = 32, kDzLengths = 56;
}  // namespace off

static_assert(off::kSessTail + 4 == kSessHdrSize, "session header is 32 bytes");
static_assert(off::kPrstCdaLen + 4 == kPrstSize, "PRST fixed part is 108 bytes");
static_assert(off::kPrstTrid + 8 == off::kPrstCdaLen, "PRST transaction id");
static_assert(off::kPrenCdaLen + 4 == kPrenSize, "PREN fixed part is 28 bytes");
static_assert(off::kMcsParamBytes + 2 == kMcsParamsOff, "MCS parameters at 48");
static_assert(off::kDzLengths + 4 * 2 == kDezUrSize, "DezUR header is 64 bytes");
static_assert(off::kDzForm + 24 == off::kDzLengths, "DezUR form name is 24 wide");

// MCS sub-packet types and parameter type of byte strings.
constexpr uint16_t kMcsFromProgram = 129, kMcsScreenInput = 139,
                   kMcsFormatReply = 199, kMcsFormatRequest = 200;
constexpr uint16_t kParamBytes = 3;

// Function index of a program-message letter ("OVIEAYLMRT01F", 1-based), 0
// for a letter that is not in the table.
uint16_t mcsFunctionIndex(char letter);

// Name of a packet class for the log ("HelloDTP", "MCSO", "<40>").
std::string className(uint8_t cls);

// --- byte helpers --------------------------------------------------------
void putU16(Bytes& b, size_t at, uint16_t v);
void putU32(Bytes& b, size_t at, uint32_t v);
uint16_t getU16(const uint8_t* p);
uint32_t getU32(const uint8_t* p);
void appendU16(Bytes& b, uint16_t v);
void appendU32(Bytes& b, uint32_t v);
// Writes text blank-padded (or cut) to width at offset `at`.
void putText(Bytes& b, size_t at, const std::string& text, size_t width);
void appendText(Bytes& b, const std::string& text, size_t width);
// Reads a name field: a NUL ends it, trailing blanks are removed.
std::string getName(const uint8_t* p, size_t width);

// The 4-byte big-endian length word followed by the body.
Bytes frame(const Bytes& body);

// --- what the host sends -------------------------------------------------
Bytes buildHello(const std::string& locap);
// OPEN/ACCEPT/REJECT/CLOSE layout; `tail` (20 bytes from offset 12: locap,
// address, 09 reason 18 50) is taken from an OPEN when given, else built.
Bytes buildSessHdr(uint8_t cls, uint32_t sender, uint32_t receiver,
                   const std::string& locap, uint8_t reason = 0,
                   const uint8_t* tail = nullptr);
Bytes buildProk(uint32_t receiver);
Bytes buildPren(uint32_t receiver, char reason, const std::string& cda);
Bytes buildMsgo();

// One MCS parameter value (always sent as a byte string).
struct McsParam {
    Bytes value;
};
// MCSO carrying an MCS sub-packet.
Bytes buildMcso(uint32_t receiver, const uint32_t ids[4], uint16_t subType,
                uint16_t index, const std::vector<McsParam>& params);

// MCS header fields of a screen.
struct McsHeader {
    std::string name, terminal;
    char function = ' ', hold = ' ';
    uint16_t size = 0;
    char status = ' ', filler = ' ';
    uint16_t count = 0;
};
Bytes buildMcsHeader(const McsHeader& h);

// Format record of a format reply: type, names, date and the .t3z bytes.
struct FormatRecord {
    uint8_t type = ':';
    std::string group, name, description;
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
    Bytes t3z;
};
Bytes buildFormatRecord(const FormatRecord& r);

// DezUR header plus texts.  A DezUrRead from the host carries no texts; a
// DezUrSend carries the header text and the screen text, their lengths at
// 60 and 62 (without the NUL that follows each text).
Bytes buildDezUr(uint8_t cls, uint32_t receiver, const std::string& group,
                 const std::string& form, const std::string& headerText,
                 const std::string& screenText);

// --- what the gateway sends ----------------------------------------------
struct Hello { std::string locap; };
struct SessHdr {
    uint8_t cls = 0;
    uint32_t sender = 0, receiver = 0;
    std::string locap;
    const uint8_t* tail = nullptr;  // 20 bytes from offset 12, inside the body
};
struct Prst {
    uint32_t receiver = 0;
    std::string trid, user, pid;
    Bytes cda;
};
struct Param {
    uint16_t type = 0;
    size_t offset = 0, length = 0;  // value position inside the body
};
struct McsMessage {
    uint32_t receiver = 0;
    uint32_t ids[4] = {0, 0, 0, 0};
    uint16_t subType = 0, index = 0, count = 0, paramBytes = 0;
    std::vector<Param> params;
};
struct DezUrRead {
    uint32_t receiver = 0;
    std::string group, form;
    std::string texts[4];
};

// Each decoder checks every length against the bytes present and returns
// an empty string, or what is wrong; `warnings` collects deviations from
// the layout a gateway should send that do not stop decoding.
std::string decodeHello(const Bytes& body, Hello& out, std::vector<std::string>& warnings);
std::string decodeSessHdr(const Bytes& body, SessHdr& out, std::vector<std::string>& warnings);
std::string decodePrst(const Bytes& body, Prst& out, std::vector<std::string>& warnings);
std::string decodeMcso(const Bytes& body, McsMessage& out, std::vector<std::string>& warnings);
std::string decodeDezUrRead(const Bytes& body, DezUrRead& out, std::vector<std::string>& warnings);

}  // namespace dtphost
