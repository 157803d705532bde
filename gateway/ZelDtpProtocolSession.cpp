// DTP session protocol: opening a host session (connection, greeting,
// OPEN), the session operations (PRST, screen input, format request, DezUR)
// and closing sessions.
#include "ZelDtpProtocol.h"

#include <string>

#include "McsInterface.h"
#include "ZelDtpProtocolErrors.h"
#include "ZelSocketTransport.h"
#include "logprint.h"
#include "xfcgiout.h"

namespace {

constexpr int kFormWidth = CZelDtpPacket::TDezUrRead::kFormWidth;
constexpr int kGroupWidth = CZelDtpPacket::TDezUrRead::kGroupWidth;

}  // namespace

// --- opening ------------------------------------------------------------------

Result CZelDtpProtocol::Connect(const std::string &locap, const std::string &address, int port, unsigned id,
                                CZelSessionTable::Record *record, CZelSocketTransport *&conn) {
    conn = nullptr;
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: creating new socket for locap %s\n", locap.c_str());
    DropConnection(locap);
    auto owned = std::make_unique<CZelSocketTransport>(locap);
    CZelSocketTransport *transport = owned.get();
    m_Connections[LocapKey(locap)] = std::move(owned);

    // A greeting that fails leaves no usable connection behind: a host
    // that did not greet properly (or greeted as another locap) gets no
    // session on it. A lost connection stays in the map, closed, until the
    // caller's broken close reports and drops it. (What the first message
    // did may have dropped the connection already.)
    auto fail = [&](Result code) {
        auto it = m_Connections.find(LocapKey(locap));
        if (it != m_Connections.end() && it->second.get() == transport) {
            if (code == Result::CommClosed)
                transport->Close();
            else
                DropConnection(locap);
        }
        return code;
    };
    // Connecting and the greeting count against the operation's deadline.
    transport->SetDeadline(m_Deadline);
    Result r = transport->Create(address, port);
    if (r != Result::Success) return fail(r == Result::CommDisconnected ? Result::CommClosed : r);
    // The host speaks first: its HelloDTP names the locap it serves.
    try {
        r = NextMessage(transport);
        if (r == Result::CommPollFailed) logPrintf("#DTP: no greeting from locap %s in time\n", locap.c_str());
        if (r == Result::Success) {
            PacketView view;
            r = OnReceived(id, view, record);
            // Whatever the message did, only a HelloDTP is a greeting.
            const uint8_t type = m_pReply->GetLength() > 0 ? m_pReply->GetByte(0) : 0;
            if (type != CZelDtpPacket::kHello) {
                if (logCtrlFlgs & LOG_EVENTS)
                    logPrintf("#Problem: BadDtpReply: Got %s instead of HELLO\n", tcpMesgType(type));
                r = Result::CommBadDtpReply;
            }
        }
    } catch (...) {
        DropConnection(locap);
        throw;
    }
    if (r != Result::Success) return fail(r);
    TPktInterfacePtr<CZelDtpPacket::THello> hello(CZelDtpPacket::THello::CreatePacketInterface(m_strLocap, id, 0));
    if (!hello) return fail(Result::NoMemory);
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: Sending QorixHELLO packet for session R%X\n", id);
    r = transport->SendMessage(*hello->GetBuffer(), *m_pReply, false);
    if (r != Result::Success) return fail(r);
    conn = transport;
    return Result::Success;
}

Result CZelDtpProtocol::OpenSession(const std::string &locap, const std::string &address, int port,
                                    unsigned &id, bool poolSwitch, int pool) {
    const bool isNew = id == 0;
    if (logCtrlFlgs & LOG_DETAIL) {
        if (isNew)
            logPrintf("#DTP: Open new session to locap %s\n", locap.c_str());
        else
            logPrintf("#DTP: Open session R%X to locap %s\n", id, locap.c_str());
    }
    BeginExchange();
    RecordPtr rec;
    try {
        Result r = m_SessionTable.Get(id, rec, true, true);
        if (IsError(r)) return r;
        if (!rec) {
            logPrintf("#DTP: OpenSession NULL record received!\n");
            return Result::SessTblInvalidSessId;
        }
        if (poolSwitch)
            rec->SetSessionPidPool(pool >= 1 ? static_cast<unsigned>(pool)
                                             : static_cast<unsigned>(m_SessionTable.GetNextPidPool()));
        rec->SetLocap(LocapKey(locap));
        id = rec->GetLocalSessionId();
        if (poolSwitch && (logCtrlFlgs & LOG_DETAIL))
            logPrintf("#DTP Session R%X has PIDPOOL %d\n", id, static_cast<int>(rec->GetSessionPidPool()));

        // A message that waits on the connection read last is taken first
        // (a program end closes its session there); it may also find that
        // the host has ended the connection.
        CZelSocketTransport *conn = CheckConnection(locap, address, port) == Result::Success ? FindConnection(locap)
                                                                                            : nullptr;
        if (conn) {
            IsMsgAvail();
            conn = FindConnection(locap);
        }
        m_strTargetLocap = locap;
        if (conn) {
            if (!isNew) {
                rec.reset();
                m_strTargetLocap.clear();
                return Result::Success;
            }
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: found socket for locap %s\n", locap.c_str());
        } else {
            r = Connect(locap, address, port, id, rec.get(), conn);
            if (r != Result::Success && !isNew) {
                // The host has not said that the session is gone: it stays,
                // and the next request tries the host again.
                if (logCtrlFlgs & LOG_EVENTS)
                    logPrintf("#DTP: locap %s not reached (%d); session R%X kept\n", locap.c_str(), ResultCode(r), id);
                rec.reset();
                m_strTargetLocap.clear();
                return r;
            }
            if (r != Result::Success) return FailSession(id, rec, r);
            if (!isNew) {
                rec.reset();
                m_strTargetLocap.clear();
                return Result::Success;
            }
        }

        TPktInterfacePtr<CZelDtpPacket::TOpen> open(CZelDtpPacket::TOpen::CreatePacketInterface(m_strLocap, id, 0));
        if (!open) return FailSession(id, rec, Result::NoMemory);
        if (logCtrlFlgs & LOG_EVENTS) {
            if (poolSwitch)
                logPrintf("#DTP: Sending OPEN packet for Session R%X PIDPOOL %d\n", id,
                          static_cast<int>(rec->GetSessionPidPool()));
            else
                logPrintf("#DTP: Sending OPEN packet for Session R%X\n", id);
        }
        r = ProcessInterface(open.release(), conn, id, rec.get());
        if (r != Result::Success && (logCtrlFlgs & LOG_DETAIL)) logPrintf("#Open result not ok: %d\n", ResultCode(r));
        if (IsError(r)) return FailSession(id, rec, r);
        // 1001: the host ended the session at once (it is closed already).
        if (r == Result::Success) {
            rec->SetOpenState(true);
            if (m_bHoldSession) m_HeldSession = std::move(rec);   // the request goes on with it
        }
        rec.reset();
        m_strTargetLocap.clear();
        return r;
    } catch (...) {
        dtperr::Kind kind;
        int detail;
        Result r = dtperr::CurrentResult(kind, detail);
        logPrintf("#DTP: open session R%X failed on an exception: %d\n", id, ResultCode(r));
        rec.reset();
        m_strTargetLocap.clear();
        if (kind == dtperr::Kind::Other && id) CloseSession(id, false, true);
        return r;
    }
}

// --- session operations ---------------------------------------------------------

Result CZelDtpProtocol::SessionRecord(unsigned id, bool needOpen, RecordPtr &rec, CZelSocketTransport *&conn) {
    conn = nullptr;
    Result r = m_SessionTable.Get(id, rec, true, true);
    if (IsError(r)) return r;
    if (!rec) return Result::SessTblInvalidSessId;
    if ((needOpen && !rec->IsOpen()) || rec->GetDtpSessionId() == 0) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: session R%X is not open on its host\n", id);
        rec.reset();
        return Result::CommClosed;
    }
    CZelName locap(kLocapWidth);
    rec->GetLocap(locap);
    conn = FindConnection(TrimmedLocap(locap));
    if (!conn) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: no connection to locap %s for session R%X\n",
                                                TrimmedLocap(locap).c_str(), id);
        rec.reset();
        return Result::CommDisconnected;
    }
    return Result::Success;
}

Result CZelDtpProtocol::FailSession(unsigned id, RecordPtr &rec, Result r) {
    std::string locap;
    bool openOnHost = false;
    if (rec) {
        CZelName name(kLocapWidth);
        rec->GetLocap(name);
        locap = TrimmedLocap(name);
        openOnHost = rec->IsOpen() && rec->GetDtpSessionId() != 0;
    }
    rec.reset();
    m_strTargetLocap.clear();
    if (r == Result::CommClosed && openOnHost && !locap.empty()) {
        // Only the connection went: the session is the host's and goes on
        // over a new connection.
        if (logCtrlFlgs & LOG_EVENTS)
            logPrintf("#DTP: connection to locap %s lost; session R%X kept\n", locap.c_str(), id);
        DropConnection(locap);
        return r;
    }
    CloseSession(id, r == Result::CommClosed, true);
    // No answer in time: a late answer, or the rest of a message, may still
    // come on the connection, which is therefore not used again.
    if (r == Result::CommPollFailed && !locap.empty()) DropConnection(locap);
    return r;
}

Result CZelDtpProtocol::StartProgram(unsigned id, const std::string &programId, const std::string &cda) {
    RecordPtr rec;
    BeginExchange();
    try {
        CZelSocketTransport *conn;
        Result r = SessionRecord(id, true, rec, conn);
        if (r != Result::Success) return r;
        ResetBuffers();
        // No screen yet: a state of its own, which a lost screen is not.
        if (IsError(rec->SetLatestScreen(m_LastMcsData, m_FccMods.GetBuffer())))
            logError("#DTP: screen of session R%X not stored: %d\n", id,
                     ResultCode(Result::SessTblLatestMcsDataFile));
        TPktInterfacePtr<CZelDtpPacket::TPrst> prst(
            CZelDtpPacket::TPrst::CreatePacketInterface(m_strLocap, id, rec->GetDtpSessionId()));
        if (!prst) return FailSession(id, rec, Result::NoMemory);
        prst->SetUser(m_strUnixUser, m_strUser, 0xFF, 0xFF, 0xFF, 17);
        prst->SetTransaction(programId, cda);
        const unsigned pool = rec->GetSessionPidPool();
        if (pool >= 1) {
            prst->SetPidValue(static_cast<int>(pool));
            xFcgiPutInt("pib.pidPoolValue", static_cast<int32_t>(pool));
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#DTP: Sending PRST packet on session R%X; PID #%d\n", id, static_cast<int>(pool));
        } else if (logCtrlFlgs & LOG_EVENTS) {
            logPrintf("#DTP: Sending PRST packet on session R%X\n", id);
        }
        r = ProcessInterface(prst.release(), conn, id, rec.get());
        if (IsError(r)) return FailSession(id, rec, r);
        return r;
    } catch (...) {
        return FailSession(id, rec, dtperr::CurrentResult());
    }
}

Result CZelDtpProtocol::SendMcso(unsigned id, const CBuffer &screen) {
    RecordPtr rec;
    BeginExchange();
    try {
        CZelSocketTransport *conn;
        Result r = SessionRecord(id, true, rec, conn);
        if (r != Result::Success) return r;
        m_PibBuffer.SetLength(0, 0);
        rec->GetPib(m_PibBuffer);
        TPktInterfacePtr<CZelDtpPacket::TMcso> mcso(
            CZelDtpPacket::TMcso::CreatePacketInterface(m_strLocap, id, rec->GetDtpSessionId()));
        if (!mcso) return FailSession(id, rec, Result::NoMemory);
        {
            TPktInterfacePtr<TMcsInterface> input(mcso->CreateMcsInterface('I'));
            auto *msgi = dynamic_cast<TQorMsgi *>(input.get());
            if (!msgi) return FailSession(id, rec, Result::CommBadDtpReply);
            unsigned ids[4];
            rec->GetMcsIds(ids[0], ids[1], ids[2], ids[3]);
            msgi->Init(m_PibBuffer, screen, static_cast<int>(ids[0]), static_cast<int>(ids[1]),
                       static_cast<int>(ids[2]), static_cast<int>(ids[3]));
        }
        // The screen sent is the session's stored screen until a reply
        // replaces it; it is written only when none did (the file is the
        // record lock holder's alone, so nobody sees the difference).
        m_SentScreen = SentScreen{id, &screen};
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("DTP: Sending MCSO packet on session R%X\n", id);
        r = ProcessInterface(mcso.release(), conn, id, rec.get());
        StoreSentScreen(rec.get());
        if (IsError(r)) return FailSession(id, rec, r);
        return r;
    } catch (...) {
        StoreSentScreen(rec.get());
        return FailSession(id, rec, dtperr::CurrentResult());
    }
}

void CZelDtpProtocol::StoreSentScreen(CZelSessionTable::Record *record) {
    const SentScreen sent = m_SentScreen;
    m_SentScreen = SentScreen{};
    // A session that ended meanwhile has no file any more.
    if (!sent.screen || !record || record->GetLocalSessionId() != sent.id) return;
    Result stored = record->SetLatestMcsData(*sent.screen);
    if (IsError(stored)) logError("#DTP: screen of session R%X not stored: %d\n", sent.id, ResultCode(stored));
}

Result CZelDtpProtocol::GetScreenFormat(unsigned id, const std::string &formatName) {
    RecordPtr rec;
    BeginExchange();
    try {
        CZelSocketTransport *conn;
        Result r = SessionRecord(id, false, rec, conn);
        if (r != Result::Success) return r;
        TPktInterfacePtr<CZelDtpPacket::TMcso> mcso(
            CZelDtpPacket::TMcso::CreatePacketInterface(m_strLocap, id, rec->GetDtpSessionId()));
        if (!mcso) return FailSession(id, rec, Result::NoMemory);
        {
            TPktInterfacePtr<TMcsInterface> request(mcso->CreateMcsInterface('F'));
            auto *format = dynamic_cast<TQorScrFmt *>(request.get());
            if (!format) return FailSession(id, rec, Result::CommBadDtpReply);
            unsigned ids[4];
            rec->GetMcsIds(ids[0], ids[1], ids[2], ids[3]);
            CZelName name(formatName, 8);
            name.Pad();
            format->Init(name, static_cast<int>(ids[0]), static_cast<int>(ids[1]), static_cast<int>(ids[2]),
                         static_cast<int>(ids[3]));
        }
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: Sending MCSO (screen format) request on session R%X\n", id);
        m_strRequestedFormat = formatName;
        m_pFormatConn = conn;
        r = ProcessInterface(mcso.release(), conn, id, rec.get());
        m_strRequestedFormat.clear();
        m_pFormatConn = nullptr;
        if (IsError(r)) return FailSession(id, rec, r);
        return r;
    } catch (...) {
        m_strRequestedFormat.clear();
        m_pFormatConn = nullptr;
        return FailSession(id, rec, dtperr::CurrentResult());
    }
}

Result CZelDtpProtocol::SendDezUr(unsigned id, const std::string &uri, const std::string &environment,
                                  const std::string &extra, const std::string &input, std::string &formName,
                                  CBuffer &reply) {
    RecordPtr rec;
    BeginExchange();
    try {
        CZelSocketTransport *conn;
        Result r = SessionRecord(id, true, rec, conn);
        if (r != Result::Success) return r;
        if (!m_pPendingRead) {
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Problem: BadDtpReply: No Read Pending from QOR/ix DTP\n");
            rec.reset();
            return Result::CommBadDtpReply;
        }
        if (logCtrlFlgs & LOG_DETAIL) {
            CZelName locap(kLocapWidth);
            rec->GetLocap(locap);
            logPrintf("#SendDezUR: for session R%X\n", id);
            logPrintf("#SendDezUR: for locap %s\n", TrimmedLocap(locap).c_str());
        }
        TPktInterfacePtr<CZelDtpPacket::TDezUrRead> read(
            CZelDtpPacket::TDezUrRead::CreatePacketInterface(m_strLocap, id, rec->GetDtpSessionId()));
        if (!read) return FailSession(id, rec, Result::NoMemory);
        CZelName group(kGroupWidth), form(kFormWidth);
        m_pPendingRead->GetGroup(group);
        m_pPendingRead->GetForm(form);
        read->SetGroup(group);
        read->SetForm(form);
        m_pPendingRead.reset();

        const std::string values = input.empty() ? environment : environment + "&" + input;
        std::string block;
        DataBlockForDezUr(block);
        read->SetValues(uri.c_str(), values.c_str(), extra.c_str(), block.empty() ? nullptr : block.data(),
                        static_cast<int>(block.size()));
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: Sending DezUR packet on session R%X\n", id);
        r = ProcessInterface(read.release(), conn, id, rec.get());
        if (IsError(r)) return FailSession(id, rec, r);
        if (r == Result::Success && m_pPendingSend) {
            CZelDtpPacket *body = m_pPendingSend->GetBuffer();
            CZelName sent(kFormWidth);
            m_pPendingSend->GetForm(sent);
            formName = TrimmedLocap(sent);
            reply = CBuffer(body->GetBuffer(), body->GetLength());
            if (logCtrlFlgs & LOG_DETAIL)
                logPrintf("#DTP: Display DezUR Form %s txtlen %d  hdrlen %d\n", formName.c_str(),
                          static_cast<int>(m_pPendingSend->GetScreenTextLength()),
                          static_cast<int>(m_pPendingSend->GetHeaderTextLength()));
            m_pPendingSend.reset();
        }
        return r;
    } catch (...) {
        return FailSession(id, rec, dtperr::CurrentResult());
    }
}

// --- closing ----------------------------------------------------------------------

Result CZelDtpProtocol::CloseSession(unsigned id, bool broken, bool remove) {
    return CloseSessionImpl(id, broken, remove, true);
}

Result CZelDtpProtocol::CloseSessionImpl(unsigned id, bool broken, bool remove, bool touch) {
    m_strTargetLocap.clear();
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: close session R%X\n", id);
    RecordPtr rec;
    try {
        Result r = m_SessionTable.Get(id, rec, true, touch);
        if (IsError(r)) return r;
        if (!rec) return Result::SessTblInvalidSessId;
        CZelName name(kLocapWidth);
        rec->GetLocap(name);
        const std::string locap = TrimmedLocap(name);
        // The map entry as it stands: a connection the host has ended is
        // still there, so that a broken close reports and drops it.
        auto entry = locap.empty() ? m_Connections.end() : m_Connections.find(LocapKey(locap));
        CZelSocketTransport *conn = entry != m_Connections.end() ? entry->second.get() : nullptr;

        Result sent = Result::Success;
        const unsigned hostId = rec->GetDtpSessionId();
        if (conn && conn->IsOpen() && rec->IsOpen() && !broken && hostId != 0) {
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: socket found for session R%X\n", id);
            TPktInterfacePtr<CZelDtpPacket::TClose> close(
                CZelDtpPacket::TClose::CreatePacketInterface(m_strLocap, id, hostId));
            if (!close) {
                sent = Result::NoMemory;
            } else {
                if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: Sending CLOSE packet for session R%X\n", id);
                // A CLOSE after an operation that ran out of time still
                // gets its own time to go out.
                const auto deadline = conn->GetDeadline();
                conn->SetDeadline(NewDeadline());
                sent = conn->SendMessage(*close->GetBuffer(), *m_pReply, false);
                conn->SetDeadline(deadline);
            }
            if (sent != Result::Success && !remove) broken = true;
        }
        if (broken && conn) {
            if (logCtrlFlgs & LOG_ERRORS) logPrintf("DTP: broken socket, close with session R%X\n", id);
            DropConnection(locap);
            m_pSock = nullptr;
        }
        if (sent == Result::Success || remove) {
            if (logCtrlFlgs & LOG_DETAIL)
                logPrintf("#DTP: removing record from the session table for session R%X\n", id);
            rec->Remove();
        }
        return sent;
    } catch (...) {
        dtperr::Kind kind;
        int detail;
        Result r = dtperr::CurrentResult(kind, detail);
        if (kind == dtperr::Kind::Packet)
            logError("#DTP: close session, invalid DTP packet\n");
        else if (kind == dtperr::Kind::Table)
            logError("#DTP: close session, session table exception\n");
        else
            logError("#DTP: close session, unexpected exception\n");
        return r;
    }
}

void CZelDtpProtocol::RemoveSession(unsigned id) {
    RecordPtr rec;
    Result r = m_SessionTable.Get(id, rec, true, false);
    if (r != Result::Success || !rec) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: session R%X closed by the host is not known here\n", id);
        return;
    }
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: removing record from the session table for session R%X\n", id);
    rec->Remove();
}
