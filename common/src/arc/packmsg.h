// The host message record and its parameters.
//
// Processes of the transaction host talk through System V message queues
// in fixed-size records: the queue's message type (the addressee's process
// id), a 24-byte header (sender, answer queue, function code, ...) and 512
// bytes of parameter entries. What goes on the queue is the header and the
// entries used, so the bytes sent are the same whatever the size of the
// kernel's `long` message type.
//
// Parameters are typed: numbers live in the entry's 32-bit data word,
// short strings right after their entry, longer ones in shared memory: in
// the host's local memory (by offset from its base) when they lie there,
// otherwise copied into the process's I/O buffer (see msgbuf.h).
//
// Every read of a record checks its sizes, counts and offsets against the
// record and the memory they point into, so a damaged record from another
// process gives a log line and a refusal, never a read outside it.
//
// No program of the gateway calls this unit; it serves host-side tools.
#ifndef QOR_PACKMSG_H
#define QOR_PACKMSG_H

#include <cstddef>
#include <cstdint>

constexpr int kQorMsgHeader = 24;     // bytes of the header sent
constexpr int kQorMsgText = 512;      // bytes of parameter entries
constexpr int kQorMsgPutLimit = 504;  // used bytes at which puts refuse
constexpr int kQorInlineBelow = 24;   // padded strings shorter than this go inline
constexpr uint32_t kQorShortMax = 65000;  // longer strings take a long entry

struct qormsg {
    long pri;         // the queue's message type: the addressee's process id
    int32_t pid;      // sending process
    int32_t qid;      // queue for the answer
    int32_t mid;      // message or segment id
    int16_t func;     // function code (negative in an answer; see funcname.h)
    int16_t subfunc;
    int16_t prms;     // parameters in text
    int16_t len;      // bytes of text used
    int32_t index;    // bytes of the I/O buffer used by this record's parameters
    char text[kQorMsgText];
};
// msgsnd's size counts from the header on; the header and the text keep
// their places after the kernel's message type, whatever its width.
static_assert(offsetof(qormsg, pid) == sizeof(long), "header follows the message type");
static_assert(offsetof(qormsg, qid) - offsetof(qormsg, pid) == 4, "header layout");
static_assert(offsetof(qormsg, mid) - offsetof(qormsg, pid) == 8, "header layout");
static_assert(offsetof(qormsg, func) - offsetof(qormsg, pid) == 12, "header layout");
static_assert(offsetof(qormsg, subfunc) - offsetof(qormsg, pid) == 14, "header layout");
static_assert(offsetof(qormsg, prms) - offsetof(qormsg, pid) == 16, "header layout");
static_assert(offsetof(qormsg, len) - offsetof(qormsg, pid) == 18, "header layout");
static_assert(offsetof(qormsg, index) - offsetof(qormsg, pid) == 20, "header layout");
static_assert(offsetof(qormsg, text) - offsetof(qormsg, pid) == kQorMsgHeader, "header layout");
static_assert(sizeof(qormsg) == sizeof(long) + kQorMsgHeader + kQorMsgText, "record size");
#if defined(__x86_64__)
static_assert(sizeof(qormsg) == 544, "record size on x86-64");
#endif

// Parameter types.
enum : int16_t {
    kPrmChar = 0,       // value in the data word
    kPrmShort = 1,      // value big-endian in the first two bytes of the data word
    kPrmInt = 2,        // value big-endian in the data word
    kPrmStr = 3,        // the bytes follow the entry, padded to a multiple of 4
    kPrmLocal = 4,      // in the host's local memory: data = offset from its base
    kPrmIo = 5,         // in the I/O pool: data = offset from the pool's start
    kPrmLongLocal = 9,  // as 4 and 5, longer than kQorShortMax: a MsgParamB
    kPrmLongIo = 10,
};

// One entry, at a 4-byte boundary of text.
struct MsgParam {
    uint16_t size;  // bytes of the value (strings: their length)
    int16_t type;
    int32_t data;
};
static_assert(sizeof(MsgParam) == 8, "parameter entry layout");

// The entry of a long string (types 9 and 10): the type keeps its place,
// the size takes 32 bits.
struct MsgParamB {
    uint16_t unused;  // 0
    int16_t type;
    uint32_t size;
    int32_t data;
};
static_assert(sizeof(MsgParamB) == 12, "long parameter entry layout");
static_assert(offsetof(MsgParamB, type) == offsetof(MsgParam, type), "type in the same place");

// --------------------------------------------------------------- building ----
// No parameters, no text, no I/O buffer used; the other header fields stay.
void initMsg(qormsg *msg);
// Each put returns false when the record is full: "#insist failed at <line>
// of packmsg.c" is logged once the used length has reached 504 bytes (or
// the entry would not fit the text).
bool putPrmChar(qormsg *msg, char c);
bool putPrmShort(qormsg *msg, int16_t v);
bool putPrmInt(qormsg *msg, int32_t v);
bool putPrmLong(qormsg *msg, int32_t v);  // the same 32-bit integer as putPrmInt
// A string of len bytes (len < 0: strlen(data) + 1, the NUL included):
// inline when its padded length is below 24 and fits; by offset when it
// lies in the local memory; otherwise copied into the I/O buffer, which is
// grown when needed (setIoBufferSize). A string of more than 65000 bytes
// takes a long entry.
bool putPrmStr(qormsg *msg, const void *data, int len);

// ---------------------------------------------------------------- reading ----
// Checks a record as received: `received` bytes from the header on must be
// 24 + len, and the prms entries must fill exactly len bytes with known
// types and sizes. Returns the bytes such a record should have had, so
// that a caller can report "got received, expected n"; equal when sound.
int msgExpected(const qormsg *msg, int received);

int getNumPrms(const qormsg *msg);
// Entry i (from 1), or null: beyond the count "#getPrm Want param i of only
// n; func f; sub s" is logged. The entry of a long string is a MsgParamB.
const MsgParam *getPrm(const qormsg *msg, int i);
// Bytes of the value (1 for a character, 2, 4, a string's length), or -1.
int getPrmLen(const qormsg *msg, int i);
// The type; strings anywhere (4, 5, 9, 10) read as 3. -1 when absent.
int getPrmType(const qormsg *msg, int i);
// Numbers. A parameter of another type logs "#insist failed" and gives 255
// (character) or -1.
unsigned char getPrmChar(const qormsg *msg, int i);
int16_t getPrmShort(const qormsg *msg, int i);
int32_t getPrmInt(const qormsg *msg, int i);
int32_t getPrmLong(const qormsg *msg, int i);
// Where a string's bytes are (getPrmStrsz of them), after checking that
// they lie inside the record, the local memory or one allocated run of the
// I/O pool; null (logged) otherwise or for a number.
const char *getPrmPtr(const qormsg *msg, int i);
// As getPrmPtr, but "" in place of null, for callers that print it.
const char *getPrmSafePtr(const qormsg *msg, int i);
// The address of a string in shared memory (types 4, 5, 9, 10), else null.
const char *getPrmAdrs(const qormsg *msg, int i);
int getPrmStrsz(const qormsg *msg, int i);  // a string's bytes, or -1
// Copies the string into out (outSize bytes, NUL-terminated, cut when
// longer). Returns out, or null when the parameter is no readable string.
char *getPrmStr(const qormsg *msg, int i, char *out, size_t outSize);

// Logs the record: header fields and the text used, in hex.
void dumpQorMsg(const char *title, const qormsg *msg);

#endif
