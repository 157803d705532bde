// CZelDtpProtocol: the DTP session protocol between a worker process and
// the transaction hosts.
//
// One object lives in each worker process (owned by the conversation). It
// keeps one TCP connection per locap, opens host sessions (greeting, OPEN),
// starts transaction programs (PRST), sends screen input and DezUR data,
// asks for screen formats, reads the host's messages until the one it waits
// for has come, keeps every received screen in the shared session table and
// closes sessions. The cleaner process (ZelCleaner.cpp) uses the same
// object to close expired sessions on their hosts.
//
// Session ids: the gateway's own ("local") id prints as R%X, the host's as
// L%X. Browsers carry the record's GUID as 32 lower-case hex digits.
//
// Every operation waits for the host at most the reply time limit (set from
// the session time-out, so that it ends before the cleaner would take the
// session for abandoned); an operation whose answer does not come in time
// closes the session on the host and drops the connection (-1011).
// Sessions belong to the host, not to a connection: when only the
// connection is lost, the session stays and goes on over a new connection
// (-1009 tells the caller to connect again); a connection made to an
// address or port that the configuration no longer gives is closed and
// made again.
//
// A host message that arrives between requests is kept with the
// connection it came from and is taken by the next read on that connection
// instead of a socket read; a program end (PREN) arriving then closes its
// session at once. The end of a request only looks for one (IsMsgAvail,
// without waiting); one that comes later wakes the request loop, which
// hands the socket to TakeSocketInput.
//
// Results are Result codes; 1001 means the program ended normally (or the
// host closed the session), negative codes are errors. Inside an operation
// a packet error becomes -1004, a session-table error its own code and any
// other exception -1000.
#ifndef QOR_ZELDTPPROTOCOL_H
#define QOR_ZELDTPPROTOCOL_H

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "DtpPacket.h"
#include "Result.h"
#include "ZelBuffer.h"
#include "ZelCleaner.h"
#include "ZelFccMods.h"
#include "ZelMCSConverter.h"
#include "ZelName.h"
#include "ZelSessionTable.h"
#include "ZelSocketTransport.h"

class CZelLocapTable;
class TMcsInterface;
class TQorMsgo;

class CZelDtpProtocol {
public:
    // Width of a locap name on the wire and in the session table.
    static constexpr int kLocapWidth = 8;
    // Bytes of the MCS header in front of the screen data.
    static constexpr int kMcsHeaderLength = 20;
    // Poll time of the look for a host message at the end of a request:
    // none, the request loop wakes for one that comes later.
    static constexpr int kMsgAvailPollMs = 0;

    CZelDtpProtocol();
    CZelDtpProtocol(const CZelDtpProtocol &) = delete;
    CZelDtpProtocol &operator=(const CZelDtpProtocol &) = delete;
    // Closes every connection (without a word to the hosts).
    virtual ~CZelDtpProtocol();

    // --- set-up -------------------------------------------------------------
    // Converter settings; attaches (or creates) the session table once per
    // process and registers this process. A negative table result, else the
    // registration's result.
    Result Init(const std::string &cacheStore, int poolLow, int poolHigh, int maxSessions,
                int fccLevel);
    // Forgets the per-screen state and unregisters this process: the
    // unregistration's result (0, or 1 when it was not registered).
    int Exit();
    void SetLocap(const std::string &name) { m_strLocap = name; }
    void SetUnixUserId(const std::string &name) { m_strUnixUser = name; }
    void SetUserId(const std::string &name) { m_strUser = name; }
    void SetDefaultStyle(const std::string &styleSheet, const std::string &additionalHtml);
    // Longest wait for the host in one operation, in milliseconds (0: no
    // limit).
    void SetReplyTimeLimit(int ms) { m_nReplyLimitMs = ms > 0 ? ms : 0; }
    int GetReplyTimeLimit() const { return m_nReplyLimitMs; }

    // --- the current screen -------------------------------------------------
    CBuffer &GetLastMcsData() { return m_LastMcsData; }
    const std::string &GetLastErrorText() const { return m_strLastErrorText; }
    CZelFccMods &GetLastFccMods() { return m_FccMods; }
    // How far converted pages follow the host's field control modifications.
    FccModsLevel GetFccModsLevel() const { return m_Converter.GetFccModsStyle(); }
    CBuffer &GetLastCda() { return m_LastCda; }
    int GetLastSelectedField() const { return m_nSelectedField; }
    bool IsReadPending() const { return m_pPendingRead != nullptr; }
    // Empties the PIB, the screen, the modifications and the CDA and drops
    // a pending DezUR exchange.
    void ResetBuffers();

    // --- session table --------------------------------------------------------
    // 0 when an open connection to the locap exists, else -1001.
    Result IsSessionConnected(const std::string &locap);
    // Closes the locap's connection when it was made to another address or
    // port than these (the configuration changed); then as
    // IsSessionConnected.
    Result CheckConnection(const std::string &locap, const std::string &address, int port);
    // Moves the shared reconfiguration stamp on to t, never back; with
    // pastCurrent at least one second past its value, so that every process
    // reloads. The new stamp (t while no table is attached).
    time_t SetReconfigureTimestamp(time_t t, bool pastCurrent = false);
    // The shared stamp; false while no table is attached.
    bool GetReconfigureTimestamp(time_t &out);
    // True when the shared reconfiguration stamp is not later than t (this
    // process is current).
    bool IsReconfigured(time_t t);
    // Local id of the session named by a browser's id text (exactly 32 hex
    // digits), or 0. With poolSwitch the record gets pid-pool number pool,
    // or the next one of the table when pool is below 1.
    unsigned GetLocalSessionId(const std::string &text, bool poolSwitch, int pool);
    // One browser request. After BeginRequest, the session that
    // GetLocalSessionId finds (or OpenSession opens) stays locked until
    // ReleaseSession, so that the request's steps (stored screen, screen
    // input, the reply page's session id) take its record lock once
    // instead of each again: they still ask for the record, which is then
    // granted at once. ReleaseSession also ends the request.
    void BeginRequest() { m_bHoldSession = true; }
    void ReleaseSession();
    // The session's id text, or empty when its record cannot be had.
    void GetSessionId(unsigned id, std::string &text);
    // Local id of the session holding a pid-pool number, or 0.
    unsigned GetPoolSessionId(unsigned pool);
    // Keeps the first 20 bytes of buffer (the MCS header) and appends the
    // session's stored screen data cut or zero-extended to count bytes.
    Result LoadLastMcsData(unsigned id, CBuffer &buffer, int count);
    // The session's stored screen as it stands (MCS header and data; empty
    // while the session has none), and with mods its field control
    // modifications (translated; empty when it has none). With lost: empty
    // when screen and modifications are as they were stored together, else
    // the file and what went wrong (lost, cut, replaced, not stored). With
    // hadScreen: whether a host screen was ever to be stored for the
    // session (false for a DezUR exchange).
    Result GetStoredScreen(unsigned id, CBuffer &screen, CZelFccMods *mods = nullptr,
                           std::string *lost = nullptr, bool *hadScreen = nullptr);
    // LoadLastMcsData's second step over a stored screen already read.
    static void AppendStoredData(CBuffer &buffer, const CBuffer &stored, int count);
    CZelSessionTable &GetSessionTable() { return m_SessionTable; }
    // The locap session id lives on, when its record names one other than
    // locap; else (the same, none, no record) empty.
    std::string SessionLocapOtherThan(unsigned id, const std::string &locap);

    // --- session operations ---------------------------------------------------
    // Connects and greets the host when this process has no connection to
    // the locap; for a new session (id 0) claims a record and sends OPEN.
    // id receives the local id. Every failure after the record was had
    // closes the session and removes the record.
    Result OpenSession(const std::string &locap, const std::string &address, int port, unsigned &id,
                       bool poolSwitch, int pool);
    // PRST; the program's first screen becomes the current screen.
    Result StartProgram(unsigned id, const std::string &programId, const std::string &cda);
    // Screen input (MCS header and data); the reply screen becomes current.
    Result SendMcso(unsigned id, const CBuffer &screen);
    // Asks the host for a screen format and converts the reply.
    Result GetScreenFormat(unsigned id, const std::string &formatName);
    // Answers the host's pending DezUR read. formName and reply receive the
    // form name and the body of the host's DezUR send (64-byte fixed part,
    // then the texts), when one came.
    Result SendDezUr(unsigned id, const std::string &uri, const std::string &environment,
                     const std::string &extra, const std::string &input, std::string &formName,
                     CBuffer &reply);
    // Sends CLOSE when the session is open on a connection and not broken;
    // broken drops the connection; the record is removed unless remove is
    // false and the CLOSE could not be sent.
    Result CloseSession(unsigned id, bool broken, bool remove);
    // At the end of a request, on the connection read from last, without
    // waiting: 1 when a host message now waits for the next read (a
    // program end is handled at once and gives 0), else 0.
    int IsMsgAvail();
    // Between requests, the request loop found input on the host socket
    // fd: one message is taken there as IsMsgAvail takes it. True when a
    // whole message was taken (kept for the next read, or a program end
    // handled); false for nothing usable, or a message that cannot be kept
    // because another one is kept already.
    bool TakeSocketInput(int fd);

    // --- the cleaner process (ZelCleaner.cpp) ------------------------------
    // 1 in the calling process (a cleaner runs already, or one was forked);
    // in the forked cleaner the end of its work: 0 when the session table
    // was removed, 2 when the configuration changed. A fresh start by a
    // caller that finds no other live gateway process first expires every
    // session (they belong to processes gone); a running worker that
    // replaces a lost cleaner keeps them. However started, the cleaner ends
    // on SIGTERM or SIGHUP, whatever handling the caller has.
    int RunCleanerLoop(int recordTimeout, int systemTimeout, const CZelLocapTable &locaps,
                       time_t configTime, const std::string &configPath,
                       CZelCleanerStart start = CZelCleanerStart::Fresh);
    // No cleaner holds the cleaner lock (a cheap probe of the lock).
    bool IsCleanerMissing();
    // Closes one expired session on its host over this process's own
    // connection, unless it was used meanwhile.
    void CloseExpiredSession(int recordTimeout, unsigned id, const CZelLocapTable &locaps);

    // Name of a DTP message type for the log.
    static const char *tcpMesgType(int type);
    // Splits the body of a DezUR send into its header text and screen text;
    // false when the lengths run past the body.
    static bool GetDezUrTexts(const CBuffer &reply, std::string &header, std::string &screen);

private:
    using RecordPtr = std::unique_ptr<CZelSessionTable::Record>;
    using PacketView = TPktInterfacePtr<TBasePktInterface>;

    // What one program message carries for its session.
    struct ScreenState {
        CBuffer mcsData;
        CZelFccMods fccMods;
        int selectedField = -1;
        std::string errorText;
    };

    // --- connections (ZelDtpProtocol.cpp) ---
    // The open connection to a locap; a closed one is dropped and counts as
    // absent.
    CZelSocketTransport *FindConnection(const std::string &locap);
    // Closes and forgets a locap's connection.
    void DropConnection(const std::string &locap);
    void ForgetConnection(const CZelSocketTransport *conn);
    // Closes the descriptors a forked cleaner inherited, without a word to
    // the hosts (the parent keeps using them).
    void DropInheritedConnections();
    // The next message of conn into the reply packet: the one kept from
    // between requests when it came from conn, else one read.
    Result NextMessage(CZelSocketTransport *conn);
    // Reads one message of conn between requests: a program end closes its
    // session, anything else is kept for the next read; an invalid one is
    // dropped.
    enum class Taken { Nothing, Kept, Handled, Dropped };
    Taken TakeMessage(CZelSocketTransport *conn);
    // The deadline of an operation that starts now, and the one set last.
    CZelSocketTransport::Clock::time_point NewDeadline() const;
    void BeginExchange() { m_Deadline = NewDeadline(); }
    static CZelName LocapKey(const std::string &locap);
    static std::string TrimmedLocap(const CZelName &name);

    // --- sessions (ZelDtpProtocolSession.cpp) ---
    // A new connection to the locap and the greeting.
    Result Connect(const std::string &locap, const std::string &address, int port, unsigned id,
                   CZelSessionTable::Record *record, CZelSocketTransport *&conn);
    Result CloseSessionImpl(unsigned id, bool broken, bool remove, bool touch);
    // First steps of PRST, MCSO, format and DezUR: the record (locked,
    // waiting), its checks (-1009) and the connection of its locap (-1001).
    // On failure the record is released.
    Result SessionRecord(unsigned id, bool needOpen, RecordPtr &rec, CZelSocketTransport *&conn);
    // A failed session operation: releases the record, clears the target
    // locap, closes the session (broken for -1009) and returns r. A lost
    // connection (-1009) leaves a session that is open on the host as it
    // is; an abandoned exchange (-1011) also drops the connection.
    Result FailSession(unsigned id, RecordPtr &rec, Result r);
    // Writes the screen input of SendMcso as the session's stored screen,
    // unless a reply screen replaced it or the session ended.
    void StoreSentScreen(CZelSessionTable::Record *record);
    // Removes a session the host closed, without a CLOSE back.
    void RemoveSession(unsigned id);
    Result DataBlockForDezUr(std::string &block);

    // --- replies (ZelDtpProtocolReply.cpp) ---
    Result ProcessInterface(TBasePktInterface *packet, CZelSocketTransport *conn, unsigned id,
                            CZelSessionTable::Record *record);
    Result OnReceived(unsigned id, PacketView &view, CZelSessionTable::Record *record);
    Result OnPren(unsigned id, CZelDtpPacket::TPren &pren, CZelSessionTable::Record *record);
    Result OnClose(unsigned id, CZelDtpPacket::TClose &close, CZelSessionTable::Record *record);
    Result ProcessMcsInterface(TMcsInterface *mcs, CZelSessionTable::Record *record, bool current);
    Result DecodeProgramMessage(const TQorMsgo &msg, CZelSessionTable::Record &record,
                                ScreenState &screen);
    Result ConvertScreenFormat(TMcsInterface *mcs);
    // True (and logged) for a screen-format reply that must be dropped: any
    // but the answer to this request's own format request, for its session
    // (forSession), on the connection the request went out on. Dropping it
    // changes nothing in the cache; the exchange reads on.
    bool UnaskedFormat(TMcsInterface *mcs, const CZelSocketTransport *conn, bool forSession) const;
    // A view of a private copy of the reply packet (a DezUR message kept
    // for the next operation must not change with the next read).
    template <class View> TPktInterfacePtr<View> KeepView();
    Result OtherSessionMessage(unsigned id, unsigned receiver, PacketView &view,
                               TPktInterfacePtr<TMcsInterface> &mcs, CZelSocketTransport *conn,
                               bool &readOn);

    // --- cleaner (ZelCleaner.cpp) ---
    void CloseOnHost(unsigned id, const std::string &locap, const std::string &address, int port,
                     time_t seen);

    CZelMCSConverter m_Converter;
    // The screen whose format GetScreenFormat asked for: its files are
    // named after it, so the page the conversation looks for is found.
    std::string m_strRequestedFormat;
    // The connection that request went out on: a format reply is converted
    // only while it waits, only from there.
    const CZelSocketTransport *m_pFormatConn = nullptr;
    CZelSessionTable m_SessionTable;
    std::map<CZelName, std::unique_ptr<CZelSocketTransport>> m_Connections;
    std::string m_strLocap;              // own locap (ThisLocap)
    std::string m_strTargetLocap;        // locap of the session being opened
    // Every host message is read into *m_pReply. Both packets carry one
    // reference of this object, so releasing views never frees them.
    CZelDtpPacket *m_pReply;
    CZelDtpPacket *m_pPending;           // a message kept from between requests
    std::string m_strUnixUser;
    std::string m_strUser;
    CBuffer m_LastMcsData;               // MCS header and data of the current screen
    CBuffer m_PibBuffer;
    CZelFccMods m_FccMods;
    int m_nSelectedField = -1;
    std::string m_strLastErrorText;
    CBuffer m_LastCda;                   // CDA of the last program end
    bool m_bRegistered = false;
    int m_nReplyLimitMs = 0;             // longest wait for the host, 0: none
    CZelSocketTransport::Clock::time_point m_Deadline = CZelSocketTransport::Clock::time_point::max();
    bool m_bHoldSession = false;         // a request runs (BeginRequest)
    RecordPtr m_HeldSession;             // its session (ReleaseSession)
    // Screen input of SendMcso not yet written as its session's stored
    // screen (StoreSentScreen).
    struct SentScreen {
        unsigned id = 0;
        const CBuffer *screen = nullptr;
    };
    SentScreen m_SentScreen;
    TPktInterfacePtr<CZelDtpPacket::TDezUrRead> m_pPendingRead;
    TPktInterfacePtr<CZelDtpPacket::TDezUrSend> m_pPendingSend;
    bool m_bReplyPending = false;        // *m_pPending holds a message from m_pPendingSock
    const CZelSocketTransport *m_pPendingSock = nullptr;
    CZelSocketTransport *m_pSock = nullptr;   // connection read from last
};

#endif
