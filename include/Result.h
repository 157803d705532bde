// Result: the single result-code space of the gateway. Operations return
// it and deep code throws it by value (catch it as Result, not int).
// 0 is success, negative values are errors, small positive values are
// conditions the caller acts on. Every named code has a template name
// "err." + name so that error and end pages can compare err.code with it.
#ifndef QOR_RESULT_H
#define QOR_RESULT_H

#include <cstddef>
#include <cstdint>

enum class Result : int32_t {
    Success = 0,
    ConfigurationChanged = 2,        // the configuration must be reloaded

    // General
    Unknown = -1,
    FileNotFound = -2,
    NotImplemented = -3,
    NoMemory = -4,
    NoResource = -5,
    BadFormat = -6,
    InvalidParam = -7,

    AppGeneric = -100,

    // Communication with the host
    CommTransTerminated = 1001,      // the host ended the transaction
    CommUnexpectedAccept = 1002,
    CommGeneric = -1000,
    CommDisconnected = -1001,
    CommKeepAlive = -1002,
    CommReadLen = -1003,
    CommBadDtpReply = -1004,
    CommNoHost = -1005,
    CommBadLocapQor = -1006,
    CommBadLocapIc = -1007,
    CommQorNotActive = -1008,
    CommClosed = -1009,
    CommScreenFormatNotFound = -1010,
    CommPollFailed = -1011,          // socket poll failed (no template name)
    CommPollDataReady = 1012,        // socket poll: data ready (no template name)

    // Screen-format conversion
    FormatGeneric = -2000,
    FormatUnknownError = -2001,
    FormatFileReadError = -2002,
    FormatConversionError = -2003,

    // Parser (templates, configuration)
    ParserGeneric = -3000,
    ParserFileNotFound = -3001,
    ParserBadDataRecord = -3002,
    ParserBadMcsData = -3003,
    ParserInvalidCachePath = -3004,
    ParserInvalidRegularStorePath = -3005,

    // Session table
    SessTblNoCleanerProcess = 4001,  // no cleaner holds the cleaner lock
    SessTblRecordLocked = 4002,      // record held by another process
    SessTblIPCError = -4000,
    SessTblLockError = -4001,
    SessTblLockFileError = -4002,
    SessTblShmAttachError = -4003,
    SessTblFull = -4004,
    SessTblInvalidSessId = -4005,
    SessTblStopCleanerProcess = -4006,
    SessTblLatestMcsDataDir = -4007,
    SessTblLatestMcsDataFile = -4008,
    SessTblInvalidSessGuid = -4009,

    // Host program ends
    QorAborted = -5001,
    QorEof = -5002,
    QorIo = -5003,
    QorSecurity = -5004,
    QorNotFound = -5005,
    QorTimeout = -5006,
    QorNoMem = -5007,
};

// A notify request sends its screen input and gets no page; this plain
// number is returned for it and has no Result name.
constexpr int32_t kResultNotifySent = 1003;

constexpr int32_t ResultCode(Result r) { return static_cast<int32_t>(r); }
constexpr bool IsError(Result r) { return ResultCode(r) < 0; }

// One named code of the table.
struct ResultName {
    Result code;
    const char *errName;       // "err." + name, e.g. "err.SessTblFull"
    bool templateConstant;     // registered as a template integer at start-up
};

// Every named code (all but Success and the two socket-poll codes), in the
// order of the code table. Error pages get all of them as fields; start-up
// registers those with templateConstant set (all but ConfigurationChanged,
// SessTblNoCleanerProcess and SessTblStopCleanerProcess) as constants.
const ResultName *ResultNamesBegin();
const ResultName *ResultNamesEnd();
std::size_t ResultNamesCount();

// The name without "err." ("SessTblFull"), or null for a code without one.
const char *ResultToName(Result r);
// The template name ("err.SessTblFull"), or null for a code without one.
const char *ResultToErrName(Result r);

#endif
