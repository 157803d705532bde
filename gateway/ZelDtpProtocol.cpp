// DTP session protocol: set-up, the session-table lookups, the per-screen
// state, the locap-to-connection map and the look for host messages between
// requests.
#include "ZelDtpProtocol.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "McsInterface.h"
#include "ZelSocketTransport.h"
#include "gospid.h"
#include "logprint.h"

namespace {

// Storage kept by the per-screen buffers between screens; larger storage
// is given back when they are emptied.
constexpr int kKeepMcsStorage = 4096;
constexpr int kKeepCdaStorage = 256;

void EmptyBuffer(CBuffer &b, int keep) {
    if (b.GetActualLength() > keep)
        b = CBuffer();
    else
        b.SetLength(0, 0);
}

CZelDtpPacket *NewMemberPacket() {
    auto *p = new CZelDtpPacket;
    p->AddRef();
    return p;
}

}  // namespace

CZelDtpProtocol::CZelDtpProtocol() : m_pReply(NewMemberPacket()), m_pPending(NewMemberPacket()) {}

CZelDtpProtocol::~CZelDtpProtocol() {
    ReleaseSession();
    m_pSock = nullptr;
    m_pPendingSock = nullptr;
    for (auto &entry : m_Connections)
        if (entry.second) entry.second->Close();
    m_Connections.clear();
    ResetBuffers();
    m_pReply->Release();
    m_pPending->Release();
}

// --- set-up -----------------------------------------------------------------

Result CZelDtpProtocol::Init(const std::string &cacheStore, int poolLow, int poolHigh, int maxSessions,
                             int fccLevel) {
    m_Converter.SetOutputDirectory(cacheStore);
    m_Converter.SetFccModsStyle(fccLevel == FccModsLimited || fccLevel == FccModsFull ? static_cast<FccModsLevel>(fccLevel)
                                                                                       : FccModsNone);
    try {
        if (!m_bRegistered) {
            Result r = m_SessionTable.Init(maxSessions, poolLow, poolHigh);
            if (IsError(r)) return r;
            m_bRegistered = true;
        }
        // A reload initialises again: one registry slot per process.
        if (m_SessionTable.IsRegisteredProcessID(gosProcessId())) return Result::Success;
        return m_SessionTable.RegisterProcessID(gosProcessId());
    } catch (const CZelSessionTable::Exception &e) {
        return e.GetResult();
    }
}

int CZelDtpProtocol::Exit() {
    ReleaseSession();
    ResetBuffers();
    m_pSock = nullptr;
    if (!m_bRegistered) return 1;
    try {
        return m_SessionTable.UnregisterProcessID(gosProcessId());
    } catch (const CZelSessionTable::Exception &e) {
        return ResultCode(e.GetResult());
    }
}

void CZelDtpProtocol::SetDefaultStyle(const std::string &styleSheet, const std::string &additionalHtml) {
    m_Converter.SetAdditionalHTMLFile(additionalHtml);
    m_Converter.SetStylesheetFile(styleSheet);
}

void CZelDtpProtocol::ResetBuffers() {
    m_PibBuffer.SetLength(0, 0);
    EmptyBuffer(m_LastMcsData, kKeepMcsStorage);
    m_FccMods.Reset();
    EmptyBuffer(m_LastCda, kKeepCdaStorage);
    m_pPendingRead.reset();
    m_pPendingSend.reset();
}

const char *CZelDtpProtocol::tcpMesgType(int type) {
    switch (type) {
    case 1: return "Open";
    case 2: return "Accept";
    case 3: return "Reject";
    case 4: return "Close";
    case 5: return "Hello";
    case 6: return "PRST";
    case 7: return "PROK";
    case 8: return "PREN";
    case 9: return "IOPKT";
    case 10: return "MSGI";
    case 11: return "MSGO";
    case 12: return "ACKI";
    case 13: return "RELAY";
    case 20: return "Prepare";
    case 21: return "Commit";
    case 22: return "Abort";
    case 23: return "Query";
    case 24: return "Ready";
    case 25: return "ReadOnly";
    case 26: return "AbortTran";
    case 27: return "Done";
    case 28: return "Release";
    case 30: return "MCSO";
    case 31: return "MCSU";
    case 32: return "MCSRQ";
    case 33: return "MCSRFMT";
    case 48: return "DezUrRead";
    case 49: return "DezUrSend";
    case 116: return "HelloDTP";
    default: break;
    }
    static char other[16];
    std::snprintf(other, sizeof other, "<%d>", type);
    return other;
}

bool CZelDtpProtocol::GetDezUrTexts(const CBuffer &reply, std::string &header, std::string &screen) {
    header.clear();
    screen.clear();
    const int fixed = CZelDtpPacket::TDezUrSend::kSize;
    if (reply.GetLength() < fixed) return false;
    const int headerLength = reply.GetWORD(60);
    const int screenLength = reply.GetWORD(62);
    const long long need = static_cast<long long>(fixed) + headerLength + (screenLength ? 1 + screenLength : 0);
    if (need > reply.GetLength()) return false;
    const char *body = reply.GetBuffer();
    header.assign(body + fixed, static_cast<size_t>(headerLength));
    if (screenLength) screen.assign(body + fixed + headerLength + 1, static_cast<size_t>(screenLength));
    return true;
}

// --- session table ------------------------------------------------------------

Result CZelDtpProtocol::IsSessionConnected(const std::string &locap) {
    return FindConnection(locap) ? Result::Success : Result::CommDisconnected;
}

Result CZelDtpProtocol::CheckConnection(const std::string &locap, const std::string &address, int port) {
    CZelSocketTransport *conn = FindConnection(locap);
    if (!conn) return Result::CommDisconnected;
    if (conn->GetHost() == address && conn->GetPort() == port) return Result::Success;
    // The locap was moved: its sessions go on at the new address.
    if (logCtrlFlgs & LOG_EVENTS)
        logPrintf("#DTP: locap %s moved from %s:%d to %s:%d; its connection is closed\n", locap.c_str(),
                  conn->GetHost().c_str(), conn->GetPort(), address.c_str(), port);
    DropConnection(locap);
    return Result::CommDisconnected;
}

time_t CZelDtpProtocol::SetReconfigureTimestamp(time_t t, bool pastCurrent) {
    if (!m_SessionTable.IsAttached()) return t;
    try {
        return m_SessionTable.MoveLastReconfigured(t, pastCurrent);
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: reconfiguration stamp not written: %d\n", ResultCode(e.GetResult()));
        return t;
    }
}

bool CZelDtpProtocol::GetReconfigureTimestamp(time_t &out) {
    out = 0;
    if (!m_SessionTable.IsAttached()) return false;
    try {
        out = m_SessionTable.GetLastReconfigured();
        return true;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: reconfiguration stamp not read: %d\n", ResultCode(e.GetResult()));
        return false;
    }
}

bool CZelDtpProtocol::IsReconfigured(time_t t) {
    if (!m_SessionTable.IsAttached()) return true;
    try {
        return m_SessionTable.GetLastReconfigured() <= t;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: reconfiguration stamp not read: %d\n", ResultCode(e.GetResult()));
        return true;
    }
}

unsigned CZelDtpProtocol::GetLocalSessionId(const std::string &text, bool poolSwitch, int pool) {
    CZelSessionTable::Guid_t guid;
    if (!CZelSessionTable::Guid_t::FromText(text, guid)) {
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: session id '%.40s' is not valid\n", text.c_str());
        return 0;
    }
    try {
        RecordPtr rec;
        Result r = m_SessionTable.Get(guid, rec, true, true);
        if (r != Result::Success || !rec || !rec->IsLockSuccessful()) return 0;
        unsigned id = rec->GetLocalSessionId();
        if (id && poolSwitch)
            rec->SetSessionPidPool(pool >= 1 ? static_cast<unsigned>(pool)
                                             : static_cast<unsigned>(m_SessionTable.GetNextPidPool()));
        if (id && m_bHoldSession) m_HeldSession = std::move(rec);
        return id;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: session lookup failed: %d\n", ResultCode(e.GetResult()));
        return 0;
    }
}

void CZelDtpProtocol::ReleaseSession() {
    m_bHoldSession = false;
    m_HeldSession.reset();
}

void CZelDtpProtocol::GetSessionId(unsigned id, std::string &text) {
    text.clear();
    try {
        RecordPtr rec;
        Result r = m_SessionTable.Get(id, rec, true, true);
        if (r != Result::Success || !rec) return;
        CZelSessionTable::Guid_t guid;
        rec->GetSessionGuid(guid);
        text = guid.ToText();
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: session R%X not read: %d\n", id, ResultCode(e.GetResult()));
    }
}

std::string CZelDtpProtocol::SessionLocapOtherThan(unsigned id, const std::string &locap) {
    try {
        RecordPtr rec;
        if (m_SessionTable.Get(id, rec, true, false) != Result::Success || !rec) return std::string();
        CZelName name(kLocapWidth);
        rec->GetLocap(name);
        const std::string own = TrimmedLocap(name);
        return own.empty() || own == TrimmedLocap(LocapKey(locap)) ? std::string() : own;
    } catch (const CZelSessionTable::Exception &e) {
        logPrintf("#DTP: session R%X not read: %d\n", id, ResultCode(e.GetResult()));
        return std::string();
    }
}

unsigned CZelDtpProtocol::GetPoolSessionId(unsigned pool) {
    if (pool == 0) return 0;   // pool 0 would claim a new record
    try {
        RecordPtr rec;
        Result r = m_SessionTable.GetByPidPool(pool, rec, true, true);
        if (r != Result::Success || !rec) return 0;
        return rec->GetLocalSessionId();
    } catch (const CZelSessionTable::Exception &) {
        return 0;
    }
}

Result CZelDtpProtocol::GetStoredScreen(unsigned id, CBuffer &screen, CZelFccMods *mods, std::string *lost,
                                        bool *hadScreen) {
    screen.SetLength(0, 0);
    if (mods) mods->Reset();
    if (lost) lost->clear();
    if (hadScreen) *hadScreen = false;
    try {
        RecordPtr rec;
        Result r = m_SessionTable.Get(id, rec, true, true);
        if (IsError(r)) return r;
        if (!rec) return Result::SessTblInvalidSessId;
        CBuffer bytes;
        std::string why;
        r = rec->GetLatestScreen(screen, bytes, why);
        if (mods) mods->Attach(bytes);
        if (lost) *lost = why;
        if (hadScreen) *hadScreen = rec->HasStoredScreen();
        return r;
    } catch (const CZelSessionTable::Exception &e) {
        return e.GetResult();
    }
}

void CZelDtpProtocol::AppendStoredData(CBuffer &buffer, const CBuffer &stored, int count) {
    if (count < 0) count = 0;
    CBuffer data;
    if (stored.GetLength() > kMcsHeaderLength)
        data = CBuffer(stored.GetBuffer() + kMcsHeaderLength, stored.GetLength() - kMcsHeaderLength);
    data.SetLength(count, 1);   // cut, or zero-extended
    buffer.SetLength(kMcsHeaderLength, 1);
    buffer += data;
}

Result CZelDtpProtocol::LoadLastMcsData(unsigned id, CBuffer &buffer, int count) {
    CBuffer stored;
    Result r = GetStoredScreen(id, stored);
    if (IsError(r)) return r;
    AppendStoredData(buffer, stored, count);
    return Result::Success;
}

// --- connections ----------------------------------------------------------------

CZelSocketTransport::Clock::time_point CZelDtpProtocol::NewDeadline() const {
    if (m_nReplyLimitMs <= 0) return CZelSocketTransport::Clock::time_point::max();
    return CZelSocketTransport::Clock::now() + std::chrono::milliseconds(m_nReplyLimitMs);
}

CZelName CZelDtpProtocol::LocapKey(const std::string &locap) {
    CZelName key(locap, kLocapWidth);
    key.Pad();
    return key;
}

std::string CZelDtpProtocol::TrimmedLocap(const CZelName &name) {
    return std::string(name.GetData(), name.TrimmedLength());
}

CZelSocketTransport *CZelDtpProtocol::FindConnection(const std::string &locap) {
    auto it = m_Connections.find(LocapKey(locap));
    if (it == m_Connections.end()) return nullptr;
    CZelSocketTransport *conn = it->second.get();
    if (conn && conn->IsOpen()) return conn;
    // The host ended the connection (or it never opened): the next use
    // connects again.
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: connection to locap %s is closed; dropped\n", locap.c_str());
    ForgetConnection(conn);
    m_Connections.erase(it);
    return nullptr;
}

void CZelDtpProtocol::DropConnection(const std::string &locap) {
    auto it = m_Connections.find(LocapKey(locap));
    if (it == m_Connections.end()) return;
    if (it->second) {
        it->second->Close();
        ForgetConnection(it->second.get());
    }
    m_Connections.erase(it);
}

void CZelDtpProtocol::ForgetConnection(const CZelSocketTransport *conn) {
    if (!conn) return;
    if (m_pSock == conn) m_pSock = nullptr;
    if (m_pPendingSock == conn) {
        if (m_bReplyPending) logPrintf("#DTP: message kept from locap %s dropped with its connection\n",
                                       conn->GetName().c_str());
        m_bReplyPending = false;
        m_pPendingSock = nullptr;
    }
}

void CZelDtpProtocol::DropInheritedConnections() {
    // Closing a descriptor in this process leaves the parent's connection
    // as it is.
    for (auto &entry : m_Connections)
        if (entry.second) entry.second->Close();
    m_Connections.clear();
    m_pSock = nullptr;
    m_pPendingSock = nullptr;
    m_bReplyPending = false;
    m_strTargetLocap.clear();
}

Result CZelDtpProtocol::NextMessage(CZelSocketTransport *conn) {
    // What a message did may have dropped the connection meanwhile.
    bool known = false;
    for (const auto &entry : m_Connections) known = known || entry.second.get() == conn;
    if (!known || !conn->IsOpen()) return Result::CommClosed;
    m_pSock = conn;
    if (m_bReplyPending && m_pPendingSock == conn) {
        std::swap(m_pReply, m_pPending);
        m_bReplyPending = false;
        m_pPendingSock = nullptr;
        return Result::Success;
    }
    conn->SetDeadline(m_Deadline);
    return conn->Read(*m_pReply);
}

// --- between requests -------------------------------------------------------------

int CZelDtpProtocol::IsMsgAvail() {
    CZelSocketTransport *conn = m_pSock;
    if (!conn) return 0;
    if (!conn->IsOpen()) {
        FindConnection(conn->GetName());   // drops it
        m_pSock = nullptr;
        return 0;
    }
    if (m_bReplyPending) return m_pPendingSock == conn ? 1 : 0;
    // A look, not a wait: the page is complete and the browser waits for
    // it. A message that comes later wakes the request loop instead.
    if (conn->Poll(kMsgAvailPollMs) != Result::CommPollDataReady) return 0;
    return TakeMessage(conn) == Taken::Kept ? 1 : 0;
}

bool CZelDtpProtocol::TakeSocketInput(int fd) {
    CZelSocketTransport *conn = nullptr;
    for (const auto &entry : m_Connections)
        if (entry.second && entry.second->IsOpen() && entry.second->GetSocket() == fd) conn = entry.second.get();
    // One kept message at a time: another one stays in its socket.
    if (!conn || m_bReplyPending) return false;
    m_pSock = conn;
    const Taken taken = TakeMessage(conn);
    if (taken == Taken::Kept && (logCtrlFlgs & LOG_DETAIL))
        logPrintf("#DTP: '%s' from locap %s kept for the next read\n", tcpMesgType(m_pPending->GetByte(0)),
                  conn->GetName().c_str());
    return taken == Taken::Kept || taken == Taken::Handled;
}

CZelDtpProtocol::Taken CZelDtpProtocol::TakeMessage(CZelSocketTransport *conn) {
    const std::string locap = conn->GetName();
    conn->SetDeadline(NewDeadline());
    Result r = conn->Read(*m_pPending);
    if (r != Result::Success) {
        // Nothing usable arrived; a connection that ended is dropped, and
        // so is one that stopped in the middle of a message.
        if (!conn->IsOpen())
            FindConnection(locap);
        else if (r == Result::CommPollFailed)
            DropConnection(locap);
        return Taken::Nothing;
    }
    try {
        PacketView view(m_pPending->QueryPacketInterface());
        auto *pren = dynamic_cast<CZelDtpPacket::TPren *>(view.get());
        if (!pren) {
            m_bReplyPending = true;
            m_pPendingSock = conn;
            return Taken::Kept;
        }
        const unsigned receiver = pren->GetReceiverId();
        const char reason = pren->GetReason();
        if (reason == 'S') {
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#PREN message with LOGOFF for session R%X\n", receiver);
        } else if (static_cast<unsigned char>(reason) <= ' ') {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#PREN message for session R%X\n", receiver);
        } else if (logCtrlFlgs & LOG_DETAIL) {
            logPrintf("#PREN message reason '%c' for session R%X\n", reason, receiver);
        }
        view.reset();
        CloseSession(receiver, false, true);
        return Taken::Handled;
    } catch (CZelPktException *e) {
        logPrintf("#DTP: invalid message between requests dropped (packet error %d)\n",
                  e ? static_cast<int>(e->GetErrorCode()) : 0);
        delete e;
        return Taken::Dropped;
    } catch (...) {
        logPrintf("#DTP: message between requests dropped on an unexpected exception\n");
        m_bReplyPending = false;
        return Taken::Dropped;
    }
}
