// DTP session protocol: sending one packet and reading the host's messages
// until the one for this session has come, what each message does, and
// storing received screens and converting received screen formats.
#include "ZelDtpProtocol.h"

#include <cstring>
#include <string>

#include "ArcSnapShot.h"
#include "McsInterface.h"
#include "ZelDtpProtocolErrors.h"
#include "ZelSocketTransport.h"
#include "logprint.h"

namespace {

using Packet = CZelDtpPacket;

// Smallest screen format worth converting: the .t3z header alone.
constexpr int kMinFormatLength = 48;

Result PrenResult(char reason) {
    switch (reason) {
    case ' ': return Result::CommTransTerminated;
    case 'E': return Result::QorEof;
    case 'F': return Result::QorIo;
    case 'K': return Result::QorSecurity;
    case 'M': return Result::QorNoMem;
    case 'N': return Result::QorNotFound;
    case 'S': return Result::Success;
    case 'T': return Result::QorTimeout;
    default: return Result::QorAborted;
    }
}

// The host names the format it sends; only a plain name is taken.
bool PlainFormatName(const std::string &name) {
    if (name.empty() || name.find("..") != std::string::npos) return false;
    for (unsigned char c : name)
        if (c < ' ' || c == '/' || c == '\\' || c == 0x7F) return false;
    return true;
}

std::string TrimBlanks(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

}  // namespace

template <class View>
TPktInterfacePtr<View> CZelDtpProtocol::KeepView() {
    std::unique_ptr<CZelDtpPacket> copy(new CZelDtpPacket);
    copy->AddChars(m_pReply->GetBuffer(), m_pReply->GetLength());
    PacketView view(copy->QueryPacketInterface());
    copy.release();   // the view's reference owns it now
    View *typed = dynamic_cast<View *>(view.get());
    if (!typed) return TPktInterfacePtr<View>();
    view.release();
    return TPktInterfacePtr<View>(typed);
}

// --- one exchange ---------------------------------------------------------------

Result CZelDtpProtocol::ProcessInterface(TBasePktInterface *packet, CZelSocketTransport *conn, unsigned id,
                                         CZelSessionTable::Record *record) {
    PacketView request(packet);
    const bool takePending = m_bReplyPending && m_pPendingSock == conn;
    if (logCtrlFlgs & LOG_DETAIL)
        logPrintf("#DTP: ProcessInterface %s reply=%s for R%X\n", tcpMesgType(request->GetBuffer()->GetByte(0)),
                  takePending ? "TRUE" : "FALSE", id);
    Result r;
    conn->SetDeadline(m_Deadline);
    if (takePending) {
        // The answer to this packet comes after the message that waits.
        r = conn->SendMessage(*request->GetBuffer(), *m_pReply, false);
        if (r == Result::Success) r = NextMessage(conn);
    } else {
        r = conn->SendMessage(*request->GetBuffer(), *m_pReply, true);
        m_pSock = conn;
    }
    request.reset();
    if (r != Result::Success) return r;

    for (;;) {
        PacketView view;
        r = OnReceived(id, view, record);
        if (IsError(r)) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#%s:%d result not ok: %d\n", __FILE__, __LINE__, ResultCode(r));
            return r;
        }
        if (r == Result::CommTransTerminated) return r;
        const uint8_t type = view->GetBuffer()->GetByte(0);
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: '%s' now processing ..\n", tcpMesgType(type));

        // Messages that only inform: read on.
        if (type == Packet::kPren || type == Packet::kProk || type == Packet::kMsgo || type == Packet::kClose ||
            r == Result::CommUnexpectedAccept) {
            view.reset();
            r = NextMessage(conn);
            if (r != Result::Success) return r;
            continue;
        }

        unsigned receiver = 0;
        bool forSession = false;
        TPktInterfacePtr<TMcsInterface> mcs;
        if (type == Packet::kMcso) {
            auto *mcso = static_cast<Packet::TMcso *>(view.get());
            receiver = mcso->GetReceiverId();
            mcs.reset(mcso->QueryMcsInterface());
            forSession = true;
            if (logCtrlFlgs & LOG_DETAIL) {
                if (mcs)
                    logPrintf("#DTP: Now Processing MCSO Session R%X\n", receiver);
                else
                    logPrintf("#DTP: Now Processing MCSO NULL\n");
            }
        } else if (type == Packet::kDezUrRead) {
            receiver = static_cast<Packet::TDezUrRead *>(view.get())->GetReceiverId();
            forSession = true;
        } else if (type == Packet::kDezUrSend) {
            receiver = static_cast<Packet::TDezUrSend *>(view.get())->GetReceiverId();
            forSession = true;
        }

        if (forSession && receiver != id) {
            bool readOn = false;
            r = OtherSessionMessage(id, receiver, view, mcs, conn, readOn);
            if (readOn) continue;
            return r;
        }
        if (mcs && (mcs->GetMcsType() == 'F' || UnaskedFormat(mcs.get(), conn, true))) {
            if (mcs->GetMcsType() == 'F' && (logCtrlFlgs & LOG_DETAIL)) logPrintf("#DTP: ignore MCSO FREE\n");
            mcs.reset();
            view.reset();
            r = NextMessage(conn);
            if (r != Result::Success) return r;
            continue;
        }

        // The message this exchange waited for.
        if (mcs) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: processing MCSO\n");
            r = ProcessMcsInterface(mcs.get(), record, true);
            mcs.reset();
        } else if (type == Packet::kDezUrRead) {
            if (m_pPendingRead && (logCtrlFlgs & LOG_DETAIL)) logPrintf("#WTS: releasing old Read packet\n");
            m_pPendingRead = KeepView<Packet::TDezUrRead>();
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: processing DEZUR Read\n");
            return Result::Success;
        } else if (type == Packet::kDezUrSend) {
            if (m_pPendingSend && (logCtrlFlgs & LOG_DETAIL)) logPrintf("#WTS: releasing old Send packet\n");
            m_pPendingSend = KeepView<Packet::TDezUrSend>();
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: processing DEZUR Send [%x]\n", receiver);
            return Result::Success;
        } else if (logCtrlFlgs & LOG_EVENTS) {
            logPrintf("#DTP: '%s' packet is ignored\n", tcpMesgType(type));
        }
        view.reset();
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: ProcessInterface return for R%X\n", id);
        return r;
    }
}

Result CZelDtpProtocol::OtherSessionMessage(unsigned id, unsigned receiver, PacketView &view,
                                            TPktInterfacePtr<TMcsInterface> &mcs, CZelSocketTransport *conn,
                                            bool &readOn) {
    readOn = false;
    const uint8_t type = view->GetBuffer()->GetByte(0);
    // A message kept from between requests for this connection has been
    // taken before the exchange read anything; one may still wait here only
    // when it came in some other way.
    const bool pending = m_bReplyPending && m_pPendingSock == conn;
    if (logCtrlFlgs & LOG_ERRORS)
        logPrintf("#DTP: unexpected reply; Got %s session R%X, wanted R%X; %s\n", tcpMesgType(type), receiver, id,
                  pending ? "Reply pending" : "Read next");
    // The other session's record is read and written without counting as
    // its activity (nor taking this request's client address).
    RecordPtr other;
    const Result found = m_SessionTable.Get(receiver, other, true, false);
    if (found == Result::Success && other) {
        if (pending || !mcs) {
            mcs.reset();
            view.reset();
            other.reset();
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#BadDtpReply: Type %s\n", tcpMesgType(type));
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: ProcessInterface return for R%X\n", id);
            return Result::CommBadDtpReply;
        }
        // Another worker's session: its screen goes into its own record
        // and file only.
        if (!UnaskedFormat(mcs.get(), conn, false)) {
            if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: processing MCSO for R%X\n", receiver);
            Result stored = ProcessMcsInterface(mcs.get(), other.get(), false);
            if (IsError(stored))
                logPrintf("#DTP: message for R%X not stored: %d\n", receiver, ResultCode(stored));
        }
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: wait for msg from R%X\n", id);
    } else {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#BadDtpReply:%d: Session R%X not found; Drop it\n", __LINE__, receiver);
        if (pending) return Result::CommBadDtpReply;
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#DTP: Now wait for msg from R%X\n", id);
    }
    mcs.reset();
    view.reset();
    other.reset();
    Result r = NextMessage(conn);
    readOn = r == Result::Success;
    return r;
}

// --- what one message does --------------------------------------------------------

Result CZelDtpProtocol::OnReceived(unsigned id, PacketView &view, CZelSessionTable::Record *record) {
    view.reset(m_pReply->QueryPacketInterface());
    if (!view) {
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#Problem: No QueryPacket DTP\n");
        return Result::CommBadDtpReply;
    }
    const uint8_t type = view->GetBuffer()->GetByte(0);
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: '%s' was received in OnReceived\n", tcpMesgType(type));

    Result r = Result::Success;
    switch (type) {
    case Packet::kAccept: {
        auto *accept = static_cast<Packet::TAccept *>(view.get());
        if (accept->GetReceiverId() == id) {
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#DTP: adding DTP id L%X for my R%X\n", accept->GetSenderId(), id);
            if (record) record->SetDtpSessionId(accept->GetSenderId());
        } else {
            if (logCtrlFlgs & LOG_ERRORS)
                logPrintf("DTP: ACCEPT mismatch - session R%X accepted instead of R%X\n", accept->GetReceiverId(), id);
            r = Result::CommUnexpectedAccept;
        }
        break;
    }
    case Packet::kReject: {
        auto *reject = static_cast<Packet::TReject *>(view.get());
        const int reason = reject->GetReason();
        if (reject->GetReceiverId() == id) {
            if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: Reject R%X: Reason %d\n", id, reason);
            r = Result::CommBadDtpReply;
        } else {
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#DTP: Reject R%X (not R%X): Reason %d\n", reject->GetReceiverId(), id, reason);
            if (reason == 7) {
                logPrintf("#Problem: Bad Locap Id sent to DTP\n");
                r = Result::CommBadLocapIc;
            } else if (reason == 10) {
                logPrintf("#Problem: Not Active sent to DTP\n");
                r = Result::CommQorNotActive;
            } else {
                if (reason == 2) logPrintf("#Problem: BadDtpReply: Bad Terminal Id sent to DTP\n");
                r = Result::CommBadDtpReply;
            }
        }
        break;
    }
    case Packet::kClose:
        r = OnClose(id, *static_cast<Packet::TClose *>(view.get()), record);
        break;
    case Packet::kProk:
        if (record) record->SetProgramStartedState(true);
        break;
    case Packet::kPren:
        r = OnPren(id, *static_cast<Packet::TPren *>(view.get()), record);
        break;
    case Packet::kMsgo:
    case Packet::kMcso:
    case Packet::kDezUrRead:
    case Packet::kDezUrSend:
        break;
    case Packet::kHello: {
        if (!m_strTargetLocap.empty()) {
            CZelName hello(kLocapWidth);
            static_cast<Packet::THello *>(view.get())->GetLocap(hello);
            if (hello != LocapKey(m_strTargetLocap)) {
                logPrintf("#LOCAP Name mismatch\n");
                r = Result::CommBadLocapQor;
            }
        }
        break;
    }
    default:
        logError("#DTP: BadDtpReply: '%s' is unrecognized\n", tcpMesgType(type));
        r = Result::CommBadDtpReply;
        break;
    }
    if (IsError(r)) {
        view.reset();
        if (logCtrlFlgs & LOG_DETAIL) logPrintf("#OnReceived returns status %d\n", ResultCode(r));
    }
    return r;
}

Result CZelDtpProtocol::OnPren(unsigned id, Packet::TPren &pren, CZelSessionTable::Record *record) {
    const unsigned receiver = pren.GetReceiverId();
    const char reason = pren.GetReason();
    if (logCtrlFlgs & LOG_EVENTS) {
        if (reason == 'S')
            logPrintf("#PREN message with LOGOFF for session R%X\n", receiver);
        else
            logPrintf("#PREN for session R%X; Reason '%c'\n", receiver, reason);
    }
    if (receiver == id) {
        m_LastCda.SetLength(0, 0);
        pren.GetCda(m_LastCda);
        if (reason == 'S' && (logCtrlFlgs & LOG_DETAIL)) logPrintf("Application LOGOFF\n");
        if (record) record->SetProgramStartedState(false);
        CloseSession(id, false, true);
        return PrenResult(reason);
    }
    {
        RecordPtr other;
        if (m_SessionTable.Get(receiver, other, true, false) == Result::Success && other)
            other->SetProgramStartedState(false);
    }
    CloseSession(receiver, false, true);
    return Result::Success;
}

Result CZelDtpProtocol::OnClose(unsigned id, Packet::TClose &close, CZelSessionTable::Record *record) {
    const unsigned receiver = close.GetReceiverId();
    // A host that no longer knows the session (it was started again) can
    // name only its own session id; no gateway session has the id 0.
    const bool byHostId = receiver == 0 && record && close.GetSenderId() != 0 &&
                          close.GetSenderId() == record->GetDtpSessionId();
    if (receiver == id || byHostId) {
        CloseSession(id, true, true);
        return Result::CommTransTerminated;
    }
    // The host ended another session on this connection: that session is
    // gone, this one and the connection go on.
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: host closed session R%X (not R%X)\n", receiver, id);
    RemoveSession(receiver);
    return Result::Success;
}

// --- screens and formats --------------------------------------------------------------

Result CZelDtpProtocol::ProcessMcsInterface(TMcsInterface *mcs, CZelSessionTable::Record *record, bool current) {
    const char kind = mcs->GetMcsType();
    if (kind == 'O' || kind == 'E' || kind == 'V') {
        auto *msg = dynamic_cast<TQorMsgo *>(mcs);
        if (!msg || !record) return Result::CommBadDtpReply;
        ScreenState screen;
        Result r = DecodeProgramMessage(*msg, *record, screen);
        if (current) {
            ResetBuffers();
            if (r == Result::Success) {
                m_LastMcsData = std::move(screen.mcsData);
                m_FccMods.Attach(screen.fccMods.GetBuffer());
                m_nSelectedField = screen.selectedField;
                m_strLastErrorText = std::move(screen.errorText);
            }
        }
        return r;
    }
    if (kind == 'S') return ConvertScreenFormat(mcs);
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Process unknown type '%c'\n", kind);
    return Result::Success;
}

Result CZelDtpProtocol::DecodeProgramMessage(const TQorMsgo &msg, CZelSessionTable::Record &record,
                                             ScreenState &screen) {
    const char kind = msg.GetMcsType();
    unsigned ids[4] = {0, 0, 0, 0};
    msg.GetIds(ids);
    record.SetMcsIds(ids[0], ids[1], ids[2], ids[3]);
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Process QORMSG%c\n", kind);

    CArcSnapShot snapshot;
    if (msg.GetSnapShot(snapshot)) {
        CBuffer pib;
        snapshot.StoreInBuffer(pib);
        record.SetPib(pib);
    }
    msg.GetMcsData(screen.mcsData);
    msg.GetFccMods(screen.fccMods.GetBuffer());
    int cursor = -1;
    msg.GetCursorModIndex(cursor);
    screen.selectedField = cursor < 0 ? -1 : cursor;
    // A modification pair starting with '*' also asks for the cursor.
    const CBuffer &mods = screen.fccMods.GetBuffer();
    for (int i = 0; i < mods.GetLength(); ++i) {
        if (mods.GetAt(i) != '*') continue;
        if (screen.selectedField < 0 || i / 2 < screen.selectedField) screen.selectedField = i / 2;
        break;
    }
    msg.GetErrorText(screen.errorText);
    screen.fccMods.TranslateMods();

    CBuffer &data = screen.mcsData;
    if (data.GetLength() < kMcsHeaderLength) {
        logError("#DTP: BadDtpReply: incomplete MCS packet\n");
        return Result::CommBadDtpReply;
    }
    const int count = data.GetWORD(18);
    if (data.GetLength() > kMcsHeaderLength + count) data.SetLength(kMcsHeaderLength + count, 1);
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: MCS subpacket is %c\n", kind);

    if (kind == 'E') {
        // Bytes of 0xFF stand for "as on the previous screen of this format".
        if (logCtrlFlgs & LOG_EVENTS) logPrintf("#DTP: MSGE received, checking for high values\n");
        CBuffer previous;
        const bool sentNow = m_SentScreen.screen && m_SentScreen.id == record.GetLocalSessionId();
        if (sentNow) previous = *m_SentScreen.screen;   // not written yet
        bool keep = (sentNow || record.GetLatestMcsData(previous) == Result::Success) &&
                    previous.GetLength() >= kMcsHeaderLength &&
                    std::memcmp(previous.GetBuffer(), data.GetBuffer(), 8) == 0;
        if (!keep) previous.SetLength(0, 0);
        bool any = false;
        for (int i = kMcsHeaderLength; i < data.GetLength(); ++i) {
            if (static_cast<unsigned char>(data.GetAt(i)) != 0xFF) continue;
            if (!any && (logCtrlFlgs & LOG_EVENTS)) logPrintf("#DTP: processing high values\n");
            any = true;
            data.SetAt(i, i < previous.GetLength() ? previous.GetAt(i) : ' ');
        }
        if (any && (logCtrlFlgs & LOG_EVENTS)) logPrintf("#DTP: values retrieved from last MCS data\n");
    }
    if (m_SentScreen.id == record.GetLocalSessionId()) m_SentScreen = SentScreen{};   // replaced
    // The modifications go with it: a later request (of any worker) merges
    // the form by what the screen showed protected.
    Result stored = record.SetLatestScreen(data, screen.fccMods.GetBuffer());
    if (IsError(stored))
        logError("#DTP: screen of session R%X not stored: %d\n", record.GetLocalSessionId(), ResultCode(stored));
    return Result::Success;
}

bool CZelDtpProtocol::UnaskedFormat(TMcsInterface *mcs, const CZelSocketTransport *conn, bool forSession) const {
    if (!mcs || mcs->GetMcsType() != 'S') return false;
    if (forSession && !m_strRequestedFormat.empty() && conn == m_pFormatConn) return false;
    std::string name;
    if (auto *format = dynamic_cast<TQorScrFmt *>(mcs)) format->GetName(name);
    name = TrimBlanks(name);
    logPrintf("#DTP: screen format %s from locap %s not asked for; dropped\n",
              logSafeText(name, name.size()).c_str(), conn ? conn->GetName().c_str() : "?");
    return true;
}

Result CZelDtpProtocol::ConvertScreenFormat(TMcsInterface *mcs) {
    auto *format = dynamic_cast<TQorScrFmt *>(mcs);
    if (!format) return Result::CommScreenFormatNotFound;
    std::string name;
    format->GetName(name);
    name = TrimBlanks(name);
    int offset = 0;
    unsigned short length = 0;
    const int haveRecord = format->GetFormatOffset(offset, length);
    CZelDtpPacket *packet = format->GetBuffer();
    const char *problem = nullptr;
    if (!haveRecord)
        problem = "no format record";
    else if (offset <= 0 || length < kMinFormatLength)
        problem = "format too short";
    else if (!packet || !packet->Has(offset, length))
        problem = "format past the message";
    else if (!PlainFormatName(name))
        problem = "not a plain name";
    if (problem) {
        if (logCtrlFlgs & LOG_DETAIL)
            logPrintf("#Processing format %s failed: sLen %d, nOffset %d, sts %s\n", name.c_str(),
                      static_cast<int>(length), offset, problem);
        return Result::CommScreenFormatNotFound;
    }
    if (logCtrlFlgs & LOG_DETAIL) logPrintf("#Process screen format %s received\n", name.c_str());
    CBuffer bytes(packet->GetBuffer() + offset, length);
    Result r = m_Converter.Convert(bytes, m_strRequestedFormat.empty() ? name : m_strRequestedFormat);
    if (r != Result::Success) logPrintf("#Problem converting screen %s; status %d\n", name.c_str(), ResultCode(r));
    return r;
}
