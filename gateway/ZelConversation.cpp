// Conversation: the request's values, one request through a host session,
// the configured pages and the end of a request.
#include "ZelConversation.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <exception>

#include "ArcMcsData.h"
#include "ZelErrorLoader.h"
#include "ZelMCSConverter.h"
#include "ZelName.h"
#include "logprint.h"
#include "xfcgiinput.h"
#include "xfcgiout.h"

namespace {

constexpr int kHeader = CArcMcsHdr::kHeaderLength;
constexpr int kMaxCount = 0xFFFF;   // the header's 16-bit size and count

bool Detail() { return (logCtrlFlgs & LOG_DETAIL) != 0; }

// A posted McsSize or McsCount as strtol reads it (empty text: 0); a
// number beyond long saturates, which no screen can hold either.
long ParsePosted(const std::string &text) {
    if (text.empty()) return 0;
    return std::strtol(text.c_str(), nullptr, 10);
}

uint16_t ToCount(long v) { return static_cast<uint16_t>(std::clamp<long>(v, 0, kMaxCount)); }

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string ClockText(const char *pattern, int size) {
    CTime t = CTime::FormatCurrentTime(pattern, size);
    return TrimRight(t.GetData() ? std::string(t.GetData()) : std::string());
}

// The header at the buffer's read offset, without consuming it.
CArcMcsHdr PeekHeader(CBuffer &buffer) {
    const int before = buffer.GetOffset();
    CArcMcsHdr header;
    header.LoadFromBuffer(buffer, kHeader);
    buffer.SetOffset(before - buffer.GetOffset());
    return header;
}

void AppendFill(CBuffer &buffer, int n, char c) {
    if (n <= 0) return;
    std::string fill(static_cast<size_t>(n), c);
    buffer.AddChars(fill.data(), n);
}

}  // namespace

CZelConversation::CZelConversation() {
    m_Record.InitializeRecord();
    Reset();
}

// --- setters ------------------------------------------------------------------

void CZelConversation::SetTransaction(const std::string &transaction, const std::string &programId,
                                      const std::string *cda) {
    m_Values.strTransaction = transaction;
    m_strProgramId = programId;
    m_pCdaText = cda;
}

void CZelConversation::SetHost(const std::string &locap, const std::string &address, unsigned port) {
    m_Values.strLocap = locap;
    m_strHostAddress = address;
    m_nPort = port;
}

void CZelConversation::SetSessionId(const std::string &text) {
    m_nLocalId = 0;
    m_Values.strSessionId = text;
}

void CZelConversation::SetFormat(const std::string &text) {
    m_strFormatName.clear();
    for (char c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        m_strFormatName += c == '_' ? 'A' : c;
    }
}

void CZelConversation::SetCount(const std::string &text) {
    m_nPostedCount = ParsePosted(text);
    m_nCount = ToCount(m_nPostedCount);
}
void CZelConversation::SetSize(const std::string &text) {
    m_nPostedSize = ParsePosted(text);
    m_nSize = ToCount(m_nPostedSize);
}
void CZelConversation::SetStatus(const std::string &text) { m_cStatus = text.empty() ? ' ' : text[0]; }
void CZelConversation::SetFiller(const std::string &text) { m_cFiller = text.empty() ? ' ' : text[0]; }
void CZelConversation::SetLocalSubscreen(const std::string &text) { m_strLocalSubscreen = text; }
void CZelConversation::SetNotifyMode(const std::string &) { m_bNotify = true; }

void CZelConversation::SetInstanceTimeout(int seconds) {
    m_nInstanceTimeout = seconds;
    const long long ms = seconds > 0 ? static_cast<long long>(seconds) * 2000 / 3 : 0;
    m_Protocol.SetReplyTimeLimit(static_cast<int>(std::min<long long>(ms, 0x7FFFFFFF)));
}

Result CZelConversation::InitDtp(const std::string &cacheStore, const std::string &additionalHtml,
                                 const std::string &styleSheet, int poolLow, int poolHigh,
                                 int maxSessions, int fccLevel) {
    SetDefaultStyle(styleSheet, additionalHtml);
    return m_Protocol.Init(cacheStore, poolLow, poolHigh, maxSessions, fccLevel);
}

int CZelConversation::RunCleanerProcessLoop(const CZelLocapTable &locaps, time_t configTime,
                                            const std::string &configPath, CZelCleanerStart start) {
    return m_Protocol.RunCleanerLoop(m_nInstanceTimeout, m_nSystemTimeout, locaps, configTime,
                                     configPath, start);
}

// --- page names -----------------------------------------------------------------

std::string CZelConversation::PageName(const std::string &formatName) {
    // The converter names the files of a screen converted on the spot the
    // same way.
    const std::string page = CZelMCSConverter::FileBaseName(formatName);
    return page.empty() ? page : page + g_IntConnHTXExt;
}

std::string CZelConversation::FormPageName(const std::string &formName) {
    std::string page = formName.substr(0, formName.find(' '));
    if (page.empty()) return page;
    for (char &c : page) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return page + ".htx";
}

bool CZelConversation::IsSafePageName(const std::string &name) {
    if (name.empty() || name.find('/') != std::string::npos || name.find("..") != std::string::npos)
        return false;
    return std::none_of(name.begin(), name.end(), [](char c) {
        unsigned char u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

Result CZelConversation::OpenPage(CIcParserIntegrator &integrator, const std::string &page, char send,
                                  char loadData) {
    if (!IsSafePageName(page)) {
        logPrintf("#Conversation: page name '%s' refused\n", page.c_str());
        return Result::FileNotFound;
    }
    Result r = integrator.OpenHtmlFile(page, send, loadData);
    if (send && r == Result::Success) m_bPageSent = true;
    return r;
}

// --- one request ------------------------------------------------------------------

Result CZelConversation::ProcessRequest(const std::string &uri, const std::string &dezUrEnvironment,
                                        const std::string &extra, const std::string &input,
                                        bool poolSwitch, unsigned pool, bool dezUrEnabled) {
    try {
        return ProcessRequestSteps(uri, dezUrEnvironment, extra, input, poolSwitch, pool,
                                   dezUrEnabled);
    } catch (const CZelDataException &e) {
        logError("#Conversation: data item %s: error %d\n", e.GetText().c_str(),
                 static_cast<int>(e.GetErrorCode()));
    } catch (const CZelSessionTable::Exception &e) {
        logError("#Conversation: Session Table exception %d\n", ResultCode(e.GetResult()));
    } catch (const Result &r) {
        logError("#Conversation: error %d\n", ResultCode(r));
    } catch (const std::exception &e) {
        logError("#Conversation: unexpected exception: %s\n", e.what());
    } catch (...) {
        logError("#Conversation: unexpected exception\n");
    }
    return Result::ParserGeneric;
}

Result CZelConversation::OpenWithRetry(unsigned &id, bool poolSwitch, unsigned pool, bool newSession) {
    const int poolNumber = static_cast<int>(std::min<unsigned>(pool, 0x7FFFFFFF));
    Result r = m_Protocol.OpenSession(m_Values.strLocap, m_strHostAddress, static_cast<int>(m_nPort),
                                      id, poolSwitch, poolNumber);
    if (r == Result::CommClosed) {
        if (newSession) id = 0;
        r = m_Protocol.OpenSession(m_Values.strLocap, m_strHostAddress, static_cast<int>(m_nPort), id,
                                   poolSwitch, poolNumber);
    }
    return r;
}

Result CZelConversation::ProcessRequestSteps(const std::string &uri,
                                             const std::string &dezUrEnvironment,
                                             const std::string &extra, const std::string &input,
                                             bool poolSwitch, unsigned pool, bool dezUrEnabled) {
    m_Protocol.GetLastMcsData().SetLength(0, 0);
    m_Protocol.BeginRequest();

    unsigned id = 0;
    if (!m_Values.strSessionId.empty()) {
        id = m_Protocol.GetLocalSessionId(m_Values.strSessionId, poolSwitch,
                                          static_cast<int>(std::min<unsigned>(pool, 0x7FFFFFFF)));
        if (Detail()) logPrintf("#Now have session R%X\n", id);
        if (id == 0) return Result::SessTblInvalidSessId;
    }
    m_nLocalId = id;

    Result r = Result::Success;
    bool dezUr = false;
    CBuffer dezUrReply;
    if (!xFcgiInputWhole()) {
        // The form was not read: nothing of the request reaches the host,
        // and no session is started for it.
        if (logCtrlFlgs & LOG_ERRORS) {
            if (id == 0)
                logPrintf("#Conversation: the form was not read; no session was started\n");
            else
                logPrintf("#Conversation: the form for R%X was not read; nothing was sent\n", id);
        }
        if (id == 0) return Result::InvalidParam;
        CBuffer current;
        m_Protocol.GetStoredScreen(id, current, &m_Protocol.GetLastFccMods());
        r = ShowCurrentScreenAgain(id, current, "The form was too large: nothing was sent.", false);
    } else if (id == 0) {
        r = OpenWithRetry(id, poolSwitch, pool, true);
        if (r != Result::Success) {
            if (Detail()) logPrintf("# Open result not OK: %d\n", ResultCode(r));
            return r;
        }
        m_nLocalId = id;
        const std::string cda = m_pCdaText ? *m_pCdaText : std::string();
        r = WithReconnect(id, [&] { return m_Protocol.StartProgram(id, m_strProgramId, cda); });
        if (r == Result::Success && dezUrEnabled && m_Protocol.IsReadPending()) {
            dezUr = true;
            if (Detail()) logPrintf("# Handle DezUR transaction\n");
            std::string form;
            r = m_Protocol.SendDezUr(id, uri, dezUrEnvironment, extra, input, form, dezUrReply);
            m_strFormatName = form;
        } else if (r == Result::Success && m_Protocol.IsReadPending()) {
            // The program asks for a DezUR exchange, which is switched off:
            // it would wait for an answer until the cleaner expired the
            // session. The request ends with the page of a missing
            // template, and the host session ends with it.
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#Conversation: R%X: the host starts a DezUR exchange but EnableDezUr is off;"
                          " the session is closed\n", id);
            m_Protocol.CloseSession(id, false, true);
            r = Result::FileNotFound;
        }
    } else if (const std::string notice = CheckSessionLocap(id); !notice.empty()) {
        r = ShowStoredScreenAgain(id, notice);
    } else {
        if (m_Protocol.CheckConnection(m_Values.strLocap, m_strHostAddress, static_cast<int>(m_nPort)) ==
            Result::CommDisconnected) {
            r = OpenWithRetry(id, false, 0, false);
            if (r != Result::Success) return r;
        }
        r = SubmitScreen(id);
    }

    if (m_bNotify) {
        if (r != Result::Success && (logCtrlFlgs & LOG_ERRORS))
            logPrintf("#Conversation: notify request for R%X ended with %d\n", id, ResultCode(r));
        return static_cast<Result>(kResultNotifySent);
    }
    if (r != Result::Success) return r;
    return ReplyPage(id, dezUr, dezUrReply);
}

void CZelConversation::WriteHeader(CBuffer &buffer, const std::string &name, char function, char hold,
                                   char status, char filler) {
    m_Record.SetValue(&buffer, "mcs.name", name);
    m_Record.SetValue(&buffer, "mcs.terminal", std::string(4, ' '));
    m_Record.SetValue(&buffer, "mcs.function", std::string(1, function));
    m_Record.SetValue(&buffer, "mcs.hold", std::string(1, hold));
    m_Record.SetValue(&buffer, "mcs.size", static_cast<unsigned>(m_nSize));
    m_Record.SetValue(&buffer, "mcs.count", static_cast<unsigned>(m_nCount));
    m_Record.SetValue(&buffer, "mcs.status", std::string(1, status));
    m_Record.SetValue(&buffer, "mcs.filler", std::string(1, filler));
}

Result CZelConversation::SubmitScreen(unsigned id) {
    CBuffer &buffer = m_Protocol.GetLastMcsData();
    CBuffer current;
    // The screen as the host sent it, with the modifications it was shown
    // with (also for showing it again).
    std::string lost;
    bool hadScreen = false;
    const bool stored =
        !IsError(m_Protocol.GetStoredScreen(id, current, &m_Protocol.GetLastFccMods(), &lost, &hadScreen));
    // Before the form's page name is looked at: a form can name any page.
    if (IsLostScreenRefused(lost, hadScreen, false)) return RefuseLostScreen(id, lost);
    CArcMcsHdr header;
    const bool hasHeader = current.GetLength() >= kHeader;
    if (hasHeader) header = PeekHeader(current);
    const CArcMcsHdr *shown = hasHeader ? &header : nullptr;
    // A form of an earlier screen shows the current screen as it is; input
    // refused for the current screen shows it with what the user typed.
    std::string notice = CheckSubmittedScreen(shown);
    if (!notice.empty()) return ShowCurrentScreenAgain(id, current, notice, false);
    notice = CheckSubmittedCharacters();
    if (!notice.empty()) return ShowCurrentScreenAgain(id, current, notice, true);

    m_Record.InitializeRecord();
    const std::string page = PageName(m_strFormatName);

    WriteHeader(buffer, m_strFormatName, ' ', ' ', m_cStatus, m_cFiller);
    if (stored) CZelDtpProtocol::AppendStoredData(buffer, current, m_nCount);
    int pageRoom = 0;
    {
        // The submitted fields go into the stored screen through the page's
        // field table, changing the host's bytes only where the user typed;
        // a page that cannot be had leaves the screen as it is.
        CIcParserIntegrator merge(&m_Values, &buffer, m_Protocol.GetLastErrorText());
        merge.SetFccMods(&m_Protocol.GetLastFccMods());
        if (stored && hasHeader) merge.SetHostScreen(&current);
        Result merged = OpenPage(merge, page, 0, 1);
        if (merge.IsStalePage()) {
            // A page shown before its field file was outdated: the form is
            // read through the screen's page converted afresh.
            const Result converted =
                m_Protocol.GetScreenFormat(id, hasHeader ? TrimRight(header.GetName()) : m_strFormatName);
            if (converted != Result::Success) return converted;
            merged = OpenPage(merge, page, 0, 1);
        }
        if (IsLostScreenRefused(lost, hadScreen, merge.FollowsFccMods())) return RefuseLostScreen(id, lost);
        // A function key sends no field: a number refused there stops nothing.
        if (merged == Result::InvalidParam && !merge.GetRefusedField().empty() && m_cStatus == ' ') {
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#Conversation: R%X posted a number %s cannot hold\n", id, merge.GetRefusedField().c_str());
            const std::string refused = "The field " + merge.GetRefusedField() + " takes " +
                                        merge.GetRefusedTakes() + ": nothing was sent.";
            if (hasHeader) return ShowCurrentScreenAgain(id, current, refused, true);
            // No screen stored (a DezUR exchange): what the user typed over
            // an empty screen.
            CBuffer typedOnly;
            WriteHeader(typedOnly, m_strFormatName, ' ', ' ', ' ', m_cFiller);
            return ShowCurrentScreenAgain(id, typedOnly, refused, true);
        }
        if (merged == Result::ParserBadDataRecord) {
            if (logCtrlFlgs & LOG_EVENTS)
                logPrintf("#Conversation: R%X posted page %s, whose field file cannot be read\n", id, page.c_str());
            return ShowCurrentScreenAgain(id, current, "The page's field file cannot be read: nothing was sent.", true);
        }
        pageRoom = merge.GetScreenRoom();
    }
    const std::string sizeNotice = CheckPostedSize(shown, pageRoom);
    if (!sizeNotice.empty()) return ShowCurrentScreenAgain(id, current, sizeNotice, true);
    Result r = ProcessInput(m_cStatus);
    if (r != Result::Success) return r;

    if (!m_strLocalSubscreen.empty()) {
        if (Detail()) logPrintf("#Conversation: Using local subscreen %s\n", m_strLocalSubscreen.c_str());
        m_Record.SetValue(&buffer, "mcs.name", m_strLocalSubscreen);
        return Result::Success;
    }
    // The reply replaces the current screen: send a copy, which a retry
    // after a lost connection can send again.
    const CBuffer screen(buffer);
    return WithReconnect(id, [&] { return m_Protocol.SendMcso(id, screen); });
}

template <class Operation>
Result CZelConversation::WithReconnect(unsigned id, Operation operation) {
    Result r = operation();
    if (r != Result::CommClosed || m_Protocol.IsSessionConnected(m_Values.strLocap) == Result::Success)
        return r;
    if (logCtrlFlgs & LOG_ERRORS)
        logPrintf("#Conversation: Session R%X was disconnected from the host, retry\n", id);
    r = m_Protocol.OpenSession(m_Values.strLocap, m_strHostAddress, static_cast<int>(m_nPort), id, false, 0);
    if (r != Result::Success) return r;
    return operation();
}

Result CZelConversation::ReplyPage(unsigned id, bool dezUr, const CBuffer &dezUrReply) {
    CBuffer &buffer = m_Protocol.GetLastMcsData();
    CArcMcsHdr header;
    std::string headerName;
    if (!dezUr) {
        if (buffer.GetLength() < kHeader) AppendFill(buffer, kHeader - buffer.GetLength(), ' ');
        header = PeekHeader(buffer);
        AppendFill(buffer, header.GetSize() - (buffer.GetLength() - kHeader), ' ');
        headerName = TrimRight(header.GetName());
        SetFormat(header.GetName());
    }
    const std::string page = dezUr ? FormPageName(m_strFormatName) : PageName(m_strFormatName);

    m_Values.strDate = ClockText("%x", 32);
    m_Values.strTime = ClockText("%X", 22);
    m_Protocol.GetSessionId(id, m_Values.strSessionId);

    m_Record.InitializeRecord();
    // A screen shown again for refused input carries the notice where the
    // host's error text would go.
    CIcParserIntegrator integrator(&m_Values, dezUr ? nullptr : &buffer,
                                   m_strNotice.empty() ? m_Protocol.GetLastErrorText() : m_strNotice);
    if (!dezUr) {
        m_nSize = header.GetSize();
        m_nCount = header.GetCount();
        // The page shows the screen's filler (pages test it) and posts it
        // back with the next input.
        m_cFiller = header.GetFiller();
        WriteHeader(buffer, m_strFormatName, header.GetFunction(), header.GetHold(),
                    header.GetStatus(), header.GetFiller());
    }
    integrator.SetFccMods(&m_Protocol.GetLastFccMods());
    integrator.SetSelectedField(m_Protocol.GetLastSelectedField());
    integrator.SetShowTyped(m_bShowTyped);
    integrator.SetCda(nullptr);
    PrepareXFcgiRequest(Result::Success, nullptr);

    Result r = Result::Success;
    if (dezUr && page.empty()) {
        logPrintf("#Conversation: DezUR reply of R%X names no form; no page sent\n", id);
    } else {
        if (dezUr && dezUrReply.GetLength() > 0) {
            std::string headerText, screenText;
            if (CZelDtpProtocol::GetDezUrTexts(dezUrReply, headerText, screenText)) {
                if (!headerText.empty())
                    xFcgiSaveHdrData(headerText.data(), static_cast<int>(headerText.size()));
                xFcgiSaveMcsData(screenText.data(), static_cast<int>(screenText.size()));
            }
        }
        r = OpenPage(integrator, page, 1, 1);
        if (r == Result::FileNotFound && !dezUr && IsSafePageName(page)) {
            if ((logCtrlFlgs & LOG_EVENTS) && !integrator.IsStalePage())
                logPrintf("#Conversation: screen format %s not found\n", headerName.c_str());
            r = m_Protocol.GetScreenFormat(id, headerName);
            if (r == Result::Success) r = OpenPage(integrator, page, 1, 1);
        }
    }
    // The page is done with the session; a program end found next may be
    // another session's, whose record this process then waits for.
    m_Protocol.ReleaseSession();
    if (m_Protocol.IsMsgAvail() && Detail()) logPrintf("#Note Message was pending in socket!\n");
    return r;
}

// --- pieces of a request ------------------------------------------------------------

int CZelConversation::PrepareXFcgiRequest(Result code, const char *administrator) {
    xFcgiPutStr("mcs.error", "");
    xFcgiPutStr("mcs.name", m_strFormatName.c_str());
    // The terminal-id field of a converted page: the session's terminal id.
    xFcgiPutStr("mcs.terminal", m_Values.strTerminal.c_str());
    xFcgiPutChr("mcs.function", ' ');
    xFcgiPutChr("mcs.hold", ' ');
    xFcgiPutChr("mcs.status", m_cStatus);
    xFcgiPutChr("McsStatus", m_cStatus);
    xFcgiPutInt("mcs.size", m_nSize);
    xFcgiPutInt("McsSize", m_nSize);
    xFcgiPutInt("mcs.count", m_nCount);
    xFcgiPutInt("McsCount", m_nCount);
    xFcgiPutChr("mcs.filler", m_cFiller);
    xFcgiPutStr("mcs.page", m_strLocalSubscreen.c_str());
    xFcgiPutInt("err.code", ResultCode(code));
    xFcgiPutStr("err.administrator", administrator ? administrator : "");
    return 0;
}

Result CZelConversation::ProcessInput(char status) {
    CBuffer &buffer = m_Protocol.GetLastMcsData();
    if (status != ' ') {
        // A function key: the header alone, with size and count 0.
        m_nSize = 0;
        m_nCount = 0;
        m_Record.SetValue(&buffer, "mcs.size", 0u);
        m_Record.SetValue(&buffer, "mcs.count", 0u);
        buffer.SetEndOfBuffer(kHeader);
        return Result::Success;
    }
    if (m_nCount > 0) {
        // The header's count is the number of data bytes that follow: a
        // page's DoXMIT may send less than the screen holds.
        AppendFill(buffer, kHeader + m_nCount - buffer.GetLength(), m_cFiller);
        buffer.SetEndOfBuffer(kHeader + m_nCount);
        return Result::Success;
    }
    if (buffer.GetLength() < kHeader) {
        logError("#Conversation: MCS data not initialized\n");
        return Result::ParserBadMcsData;
    }
    if (buffer.GetLength() - kHeader > kMaxCount) buffer.SetEndOfBuffer(kHeader + kMaxCount);
    m_Record.SetValue(&buffer, "mcs.count", static_cast<unsigned>(buffer.GetLength() - kHeader));
    return Result::Success;
}

Result CZelConversation::ProcessHtx(const std::string &templateName, Result code,
                                    const char *administrator) {
    try {
        if (code != Result::Success) {
            m_Record.InitializeRecord();
            CZelErrorLoader(&m_Record).LoadErrorFields(code, administrator ? administrator : "");
        }
        CIcParserIntegrator integrator(&m_Values, &m_Protocol.GetLastMcsData(),
                                       m_Protocol.GetLastErrorText());
        integrator.SetCda(&m_Protocol.GetLastCda());
        PrepareXFcgiRequest(code, administrator);
        Result r = integrator.OpenHtmlFile(templateName, 1, 0);
        if (r == Result::Success) m_bPageSent = true;
        return r;
    } catch (const std::exception &e) {
        logError("#Conversation: unexpected exception filling %s: %s\n", templateName.c_str(), e.what());
    } catch (...) {
        logError("#Conversation: unexpected exception filling %s\n", templateName.c_str());
    }
    return Result::ParserGeneric;
}

void CZelConversation::Reset() {
    m_Protocol.ReleaseSession();
    m_Protocol.ResetBuffers();
    m_strProgramId.clear();
    m_Values.strTransaction.clear();
    m_Values.strLocap.clear();
    m_Values.strSessionId.clear();
    m_Values.strUser.clear();
    m_strHostAddress.clear();
    m_strFormatName.clear();
    m_strLocalSubscreen.clear();
    m_pCdaText = nullptr;
    m_nPort = 0;
    m_nLocalId = 0;
    m_cStatus = ' ';
    m_cFiller = ' ';
    m_nSize = 0;
    m_nCount = 0;
    m_nPostedSize = 0;
    m_nPostedCount = 0;
    m_bNotify = false;
    m_bPageSent = false;
    m_strNotice.clear();
    m_bShowTyped = false;
    xFcgiPutClear();
}
