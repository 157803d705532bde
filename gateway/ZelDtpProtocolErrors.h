// How the DTP protocol turns an exception caught inside one of its
// operations into a result: a packet error (thrown as a pointer, deleted
// here) is a bad reply, a session-table error or a bare Result keeps its
// own code, anything else is a general communication error.
#ifndef QOR_ZELDTPPROTOCOLERRORS_H
#define QOR_ZELDTPPROTOCOLERRORS_H

#include "DtpPacket.h"
#include "Result.h"
#include "ZelSessionTable.h"

namespace dtperr {

enum class Kind { Packet, Table, Other };

// Call only inside a catch block: rethrows the exception being handled
// and classifies it.
inline Result CurrentResult(Kind &kind, int &detail) {
    detail = 0;
    try {
        throw;
    } catch (CZelPktException *e) {
        kind = Kind::Packet;
        Result r = Result::CommBadDtpReply;
        if (e) {
            detail = static_cast<int>(e->GetErrorCode());
            r = e->ErrorCode2Result();
            delete e;
        }
        return r;
    } catch (const CZelSessionTable::Exception &e) {
        kind = Kind::Table;
        detail = ResultCode(e.GetResult());
        return e.GetResult();
    } catch (Result r) {
        kind = Kind::Table;
        detail = ResultCode(r);
        return r;
    } catch (...) {
        kind = Kind::Other;
        return Result::CommGeneric;
    }
}

inline Result CurrentResult() {
    Kind kind;
    int detail;
    return CurrentResult(kind, detail);
}

}  // namespace dtperr

#endif
