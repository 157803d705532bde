// The err. name table of the Result codes.
#include "Result.h"

#include <iterator>

namespace {

// Code table order; the three codes that are only error-page fields (not
// template constants) carry false.
const ResultName s_resultNames[] = {
    {Result::ConfigurationChanged, "err.ConfigurationChanged", false},
    {Result::Unknown, "err.Unknown", true},
    {Result::FileNotFound, "err.FileNotFound", true},
    {Result::NotImplemented, "err.NotImplemented", true},
    {Result::NoMemory, "err.NoMemory", true},
    {Result::NoResource, "err.NoResource", true},
    {Result::BadFormat, "err.BadFormat", true},
    {Result::InvalidParam, "err.InvalidParam", true},
    {Result::AppGeneric, "err.AppGeneric", true},
    {Result::CommTransTerminated, "err.CommTransTerminated", true},
    {Result::CommUnexpectedAccept, "err.CommUnexpectedAccept", true},
    {Result::CommGeneric, "err.CommGeneric", true},
    {Result::CommDisconnected, "err.CommDisconnected", true},
    {Result::CommKeepAlive, "err.CommKeepAlive", true},
    {Result::CommReadLen, "err.CommReadLen", true},
    {Result::CommBadDtpReply, "err.CommBadDtpReply", true},
    {Result::CommNoHost, "err.CommNoHost", true},
    {Result::CommBadLocapQor, "err.CommBadLocapQor", true},
    {Result::CommBadLocapIc, "err.CommBadLocapIc", true},
    {Result::CommQorNotActive, "err.CommQorNotActive", true},
    {Result::CommClosed, "err.CommClosed", true},
    {Result::CommScreenFormatNotFound, "err.CommScreenFormatNotFound", true},
    {Result::FormatGeneric, "err.FormatGeneric", true},
    {Result::FormatUnknownError, "err.FormatUnknownError", true},
    {Result::FormatFileReadError, "err.FormatFileReadError", true},
    {Result::FormatConversionError, "err.FormatConversionError", true},
    {Result::ParserGeneric, "err.ParserGeneric", true},
    {Result::ParserFileNotFound, "err.ParserFileNotFound", true},
    {Result::ParserBadDataRecord, "err.ParserBadDataRecord", true},
    {Result::ParserBadMcsData, "err.ParserBadMcsData", true},
    {Result::ParserInvalidCachePath, "err.ParserInvalidCachePath", true},
    {Result::ParserInvalidRegularStorePath, "err.ParserInvalidRegularStorePath", true},
    {Result::SessTblNoCleanerProcess, "err.SessTblNoCleanerProcess", false},
    {Result::SessTblRecordLocked, "err.SessTblRecordLocked", true},
    {Result::SessTblIPCError, "err.SessTblIPCError", true},
    {Result::SessTblLockError, "err.SessTblLockError", true},
    {Result::SessTblLockFileError, "err.SessTblLockFileError", true},
    {Result::SessTblShmAttachError, "err.SessTblShmAttachError", true},
    {Result::SessTblFull, "err.SessTblFull", true},
    {Result::SessTblInvalidSessId, "err.SessTblInvalidSessId", true},
    {Result::SessTblStopCleanerProcess, "err.SessTblStopCleanerProcess", false},
    {Result::SessTblLatestMcsDataDir, "err.SessTblLatestMcsDataDir", true},
    {Result::SessTblLatestMcsDataFile, "err.SessTblLatestMcsDataFile", true},
    {Result::SessTblInvalidSessGuid, "err.SessTblInvalidSessGuid", true},
    {Result::QorAborted, "err.QorAborted", true},
    {Result::QorEof, "err.QorEof", true},
    {Result::QorIo, "err.QorIo", true},
    {Result::QorSecurity, "err.QorSecurity", true},
    {Result::QorNotFound, "err.QorNotFound", true},
    {Result::QorTimeout, "err.QorTimeout", true},
    {Result::QorNoMem, "err.QorNoMem", true},
};

constexpr size_t kErrPrefix = 4;   // "err."

}  // namespace

const ResultName *ResultNamesBegin() { return std::begin(s_resultNames); }
const ResultName *ResultNamesEnd() { return std::end(s_resultNames); }
std::size_t ResultNamesCount() { return std::size(s_resultNames); }

const char *ResultToErrName(Result r) {
    for (const ResultName &n : s_resultNames)
        if (n.code == r) return n.errName;
    return nullptr;
}

const char *ResultToName(Result r) {
    const char *name = ResultToErrName(r);
    return name ? name + kErrPrefix : nullptr;
}
