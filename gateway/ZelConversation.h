// CZelConversation: carries one browser request through a host session.
//
// It finds the session named by the request's session id, or opens a new
// one and starts the transaction program; for an existing session it
// merges the submitted form into the session's last screen and sends it as
// screen input; then it fills the page of the host's reply screen. It also
// fills the configured program-end and error pages (ProcessHtx).
//
// One object lives for the whole worker process, inside the server
// context. The router loads it with the request's values through the
// setters, calls ProcessRequest, and Reset ends the request. All host
// traffic goes through the DTP protocol object it owns.
#ifndef QOR_ZELCONVERSATION_H
#define QOR_ZELCONVERSATION_H

#include <cstdint>
#include <ctime>
#include <string>

#include "DataRecord.h"
#include "IcParserIntegrator.h"
#include "Result.h"
#include "ZelDtpProtocol.h"

class CArcMcsHdr;
class CZelLocapTable;

class CZelConversation {
public:
    CZelConversation();
    CZelConversation(const CZelConversation &) = delete;
    CZelConversation &operator=(const CZelConversation &) = delete;

    // --- the request's values (set by the router) --------------------------
    // The template's transaction id, the host's program id, and the CDA
    // text (the caller's string, read when the program is started).
    void SetTransaction(const std::string &transaction, const std::string &programId,
                        const std::string *cda);
    void SetHost(const std::string &locap, const std::string &address, unsigned port);
    // The browser's session id text (empty: a new session).
    void SetSessionId(const std::string &text);
    // The screen's format name: upper-cased, every "_" becomes "A".
    void SetFormat(const std::string &text);
    // Decimal; empty or unreadable text gives 0, values are kept in 0..65535.
    // The value as posted is kept too: one outside the current screen's
    // size is refused before anything reaches the host.
    void SetCount(const std::string &text);
    void SetSize(const std::string &text);
    // First character; empty text gives a blank.
    void SetStatus(const std::string &text);
    void SetFiller(const std::string &text);
    void SetLocalSubscreen(const std::string &text);
    void SetNotifyMode(const std::string &text);
    void SetThisLocap(const std::string &name) { m_Protocol.SetLocap(name); }
    // The session time-out; the host's answers are awaited two thirds of it
    // at most, so that a request gives up before the cleaner would take
    // its session for abandoned.
    void SetInstanceTimeout(int seconds);
    void SetSystemTimeout(int seconds) { m_nSystemTimeout = seconds; }
    void SetDefaultStyle(const std::string &styleSheet, const std::string &additionalHtml) {
        m_Protocol.SetDefaultStyle(styleSheet, additionalHtml);
    }
    // The character set the pages declare; named in the notice that
    // refuses characters outside it.
    void SetCharacterSet(const std::string &name);

    // --- process-wide set-up and the protocol's services -------------------
    Result InitDtp(const std::string &cacheStore, const std::string &additionalHtml,
                   const std::string &styleSheet, int poolLow, int poolHigh, int maxSessions,
                   int fccLevel);
    int ExitDtp() { return m_Protocol.Exit(); }
    bool IsReconfigured(time_t t) { return m_Protocol.IsReconfigured(t); }
    time_t SetReconfigureTimestamp(time_t t, bool pastCurrent = false) {
        return m_Protocol.SetReconfigureTimestamp(t, pastCurrent);
    }
    bool GetReconfigureTimestamp(time_t &out) { return m_Protocol.GetReconfigureTimestamp(out); }
    int CheckSocket() { return m_Protocol.IsMsgAvail(); }
    // Host input on socket fd between requests: whether a whole message
    // was taken there.
    bool CheckSocket(int fd) { return m_Protocol.TakeSocketInput(fd); }
    // 1 in the calling process; in a forked cleaner the end of its work
    // (0 table removed, 2 configuration changed).
    int RunCleanerProcessLoop(const CZelLocapTable &locaps, time_t configTime,
                              const std::string &configPath,
                              CZelCleanerStart start = CZelCleanerStart::Fresh);
    bool IsCleanerMissing() { return m_Protocol.IsCleanerMissing(); }

    // --- one request ---------------------------------------------------------
    // Success when a page was sent, CommTransTerminated (the host ended the
    // program), kResultNotifySent (a notify request: nothing to show), or
    // an error code.
    Result ProcessRequest(const std::string &uri, const std::string &dezUrEnvironment,
                          const std::string &extra, const std::string &input, bool poolSwitch,
                          unsigned pool, bool dezUrEnabled);
    // Fills and sends a configured page (program end, error) over the
    // current screen; the parser integrator's result.
    Result ProcessHtx(const std::string &templateName, Result code, const char *administrator);
    // The request's mcs.*, McsStatus/Size/Count and err.* output variables.
    int PrepareXFcgiRequest(Result code, const char *administrator);
    // Shapes the screen data before it is sent; Success or ParserBadMcsData.
    Result ProcessInput(char status);
    // Ends the request: per-request values and the output variables cleared.
    void Reset();

    // Whether a page has been written into this request's response.
    bool WasPageSent() const { return m_bPageSent; }

    // The page of a screen: the converter's file name of the screen
    // (cut at the first white space, lower-cased, "_" as "a") with ".htx";
    // empty for an empty name.
    static std::string PageName(const std::string &formatName);
    // The page of a DezUR form: the form name cut at its first blank,
    // lower-cased, with ".htx" (forms are never converted).
    static std::string FormPageName(const std::string &formName);
    // The first character of a posted value that the host's character set
    // cannot hold, as a code point: a numeric character reference
    // ("&#321;", "&#x141;", what a browser sends for a character that the
    // page's character set lacks; with ISO-8859-1 (latin1) one to a
    // character of the set was typed as text and is not refused), or
    // (latin1) a byte 0x80 to 0x9F, taken as the windows-1252 character a
    // browser meant by it. References beyond Unicode give 0x110000; -1: none.
    static long FirstRefusedCharacter(const char *value, bool latin1);
    // Whether a character-set name names ISO-8859-1 (by any of its usual
    // names). Browsers take it for windows-1252 and send that set's
    // characters (the euro sign, typographic quotes) as bytes 0x80 to 0x9F,
    // which are control codes in ISO-8859-1: such bytes are refused too.
    static bool IsLatin1(const std::string &name);
    // Whether a post's screen name and a stored header's name name the
    // same page (compared as the gateway names pages).
    static bool SamePage(const std::string &postedName, const std::string &headerName);
    // Whether a page name may be looked up in the template stores: not
    // empty, no "/", no "..", no control characters. Absolute or climbing
    // names come only from the configuration, never from a browser or host.
    static bool IsSafePageName(const std::string &name);

    CZelDtpProtocol &GetProtocol() { return m_Protocol; }
    const _tagT3IVALUES &GetTemplateValues() const { return m_Values; }
    const std::string &GetFormatName() const { return m_strFormatName; }
    uint16_t GetSize() const { return m_nSize; }
    uint16_t GetCount() const { return m_nCount; }
    char GetStatus() const { return m_cStatus; }
    char GetFiller() const { return m_cFiller; }
    bool IsNotify() const { return m_bNotify; }

private:
    Result ProcessRequestSteps(const std::string &uri, const std::string &dezUrEnvironment,
                               const std::string &extra, const std::string &input,
                               bool poolSwitch, unsigned pool, bool dezUrEnabled);
    // Opens a session (or reconnects for an existing one), once more after
    // the host closed the connection.
    Result OpenWithRetry(unsigned &id, bool poolSwitch, unsigned pool, bool newSession);
    // Screen input of an existing session: header, stored data, the form
    // merged in, sent (or a local subscreen chosen). Input that must not
    // reach the host leaves the current screen to be shown again instead.
    Result SubmitScreen(unsigned id);
    // Runs a session operation; when it failed because the connection to
    // the host was lost (the session itself stays), connects again and
    // runs it once more.
    template <class Operation> Result WithReconnect(unsigned id, Operation operation);
    // Why a submitted form must not reach the host (the notice for the
    // page), or empty: a form of an earlier screen (shown is the header of
    // the session's stored screen, null without one), characters outside
    // the character set.
    std::string CheckSubmittedScreen(const CArcMcsHdr *shown) const;
    // Whether an Enter post of a session whose stored screen or
    // modifications are lost (lost names why) must not reach the host:
    // with a page that follows the host's modifications (pageFollowsMods),
    // or, at levels limited and full, whatever page it names once the
    // session has had a screen (hadScreen). RefuseLostScreen shows the
    // page named with what the user typed and the notice.
    bool IsLostScreenRefused(const std::string &lost, bool hadScreen, bool pageFollowsMods) const;
    Result RefuseLostScreen(unsigned id, const std::string &lost);
    std::string CheckSubmittedCharacters() const;
    // The same for the posted McsSize and McsCount: each must lie between 0
    // and the larger of the current screen's size and the room of the
    // page's field table (input-only fields make a screen's input longer
    // than what the host sent).
    std::string CheckPostedSize(const CArcMcsHdr *shown, int pageRoom) const;
    // The same for a form that addresses another host than the one the
    // session lives on (its locap named by the form, or the transaction's
    // when the form names none): the session's locap then becomes the
    // request's, so that the page shown again names it.
    std::string CheckSessionLocap(unsigned id);
    // The current screen becomes the reply, with the notice in mcs.error
    // and, with showTyped, the values the form posted in its fields;
    // without a stored screen the request fails with InvalidParam.
    Result ShowCurrentScreenAgain(unsigned id, const CBuffer &current, const std::string &notice,
                                  bool showTyped);
    // The same with the session's stored screen, as the host sent it.
    Result ShowStoredScreenAgain(unsigned id, const std::string &notice);
    // Fills and sends the page of the reply screen.
    Result ReplyPage(unsigned id, bool dezUr, const CBuffer &dezUrReply);
    // Opens a page through the integrator, refusing unsafe names.
    Result OpenPage(CIcParserIntegrator &integrator, const std::string &page, char send,
                    char loadData);
    void WriteHeader(CBuffer &buffer, const std::string &name, char function, char hold,
                     char status, char filler);

    std::string m_strProgramId;
    std::string m_strHostAddress;
    std::string m_strFormatName;
    std::string m_strLocalSubscreen;
    const std::string *m_pCdaText = nullptr;
    uint32_t m_nPort = 0;
    uint32_t m_nLocalId = 0;
    char m_cStatus = ' ';
    char m_cFiller = ' ';
    uint16_t m_nSize = 0;
    uint16_t m_nCount = 0;
    long m_nPostedSize = 0;            // McsSize and McsCount as posted
    long m_nPostedCount = 0;
    bool m_bNotify = false;
    CZelDtpProtocol m_Protocol;
    _tagT3IVALUES m_Values;
    CDataRecord m_Record;              // the MCS header's items
    int m_nInstanceTimeout = 120;
    int m_nSystemTimeout = 240;
    bool m_bPageSent = false;
    std::string m_strNotice;           // why the current screen is shown again
    bool m_bShowTyped = false;         // ...with the values the form posted
    std::string m_strCharacterSet;
    bool m_bRefuseC1 = false;          // the set is ISO-8859-1
};

#endif
