// CZelServerContext: the gateway process's state around its requests.
//
// It is the configuration model itself (the settings and the locap,
// transaction and application-group tables are its own) and owns the
// conversation, which owns the host connections. Init reads the
// configuration (at start-up and at every reload), opens the log, joins
// the session table and starts the cleaner when none runs. Between accept
// and the end of a request it routes the request: it splits the URL into
// an application group and a transaction, picks the session-id field, the
// pid pool and the template store, answers with an initial page or hands
// the request to the conversation, and turns the result into the
// configured program-end or error page or a built-in error page.
//
// Every request gets a response: an end that sends no page sends the
// header block with an empty body.
#ifndef QOR_ZELSERVERCONTEXT_H
#define QOR_ZELSERVERCONTEXT_H

#include <cstdint>
#include <ctime>
#include <string>

#include "Result.h"
#include "ZelConfigParser.h"
#include "ZelConversation.h"

// One version of the configuration file: its modification time to the
// nanosecond, its size and which file it is, so that a file saved again
// within the same second is still a change.
struct CZelConfigFileVersion {
    bool exists = false;
    int64_t mtimeNs = 0;
    int64_t size = 0;
    uint64_t dev = 0;
    uint64_t ino = 0;

    static CZelConfigFileVersion Of(const std::string &path);
    bool operator==(const CZelConfigFileVersion &o) const {
        return exists == o.exists && mtimeNs == o.mtimeNs && size == o.size && dev == o.dev && ino == o.ino;
    }
    bool operator!=(const CZelConfigFileVersion &o) const { return !(*this == o); }
};

// The web-server side of the context; it holds nothing of its own.
class CZelHttpServerContext {
public:
    CZelHttpServerContext() {}
};

class CZelServerContext : public CZelHttpServerContext, public CZelConfigParser {
public:
    static constexpr const char *kDefaultConfigPath = "/usr/local/qoric/conf/qoric.conf";
    static constexpr long kCoreLimit = 12L * 1024 * 1024;

    // How a routed request ended.
    enum class Route {
        Served,        // the request went through; OnEndRequest is the caller's
        InitialPage,   // an application group's initial page ended it (ended here)
    };

    CZelServerContext() = default;
    ~CZelServerContext() override = default;

    // --- start-up, reload, shut-down -----------------------------------------
    // 0 to serve; 1 when this process is a cleaner whose work has ended; a
    // negative code (or the parser's status) on failure.
    int Init(bool reconfigure);
    void Exit();

    // --- request hooks -----------------------------------------------------------
    // Reloads when the shared stamp moved; a failed reload's negative result.
    int OnBeginRequest();
    void OnEndRequest();
    // Host input on socket fd between requests: whether a whole message
    // was taken there (else the loop counts it as trouble).
    bool OnSocketInput(int fd);
    // Between requests, at most once a second: when no cleaner runs any
    // more (killed, crashed), starts one the way Init does, keeping the
    // sessions. Of workers that notice at once, one cleaner survives.
    void KeepCleanerAlive();

    // --- routing -------------------------------------------------------------------
    // Serves the accepted request (after OnBeginRequest).
    Route RouteRequest();
    using CZelConfigParser::GetAppGroupTable;
    const CZelAppGroupInfo *GetAppGroupTable(const std::string &key) const;
    void SetAlternateStore();
    void SetAlternateStore(const std::string &name);
    int ProcessRequest(std::string transaction, const std::string &uri,
                       const std::string &dezUrEnvironment, const std::string &extra,
                       const std::string &input, bool poolSwitch, unsigned pool);
    // The page for a conversation's result: the program-end page, the
    // configured or built-in error page, or none; 0 or the page's result.
    int ResultPage(Result r);
    void SetPibProperties(const std::string &uriTransaction);
    void SetMcsProperties();
    void SetCdaProperties();
    // Sends the configured error page, else the built-in one.
    void OutputErrorFile(Result code);
    // The header block with an empty body, when nothing has been sent yet.
    void SendEmptyResponseIfNone();

    // --- pure helpers -----------------------------------------------------------
    // What a request method gets: GET and POST (and none) are served; HEAD
    // the header block alone; any other method 405. Neither starts a session.
    enum class Method { Serve, Head, NotAllowed };
    static Method MethodOf(const char *method);
    struct UriParts {
        std::string groupKeyA;     // first path segment with its slashes
        std::string groupKeyB;     // the whole path without the query
        std::string transaction;   // last path segment, upper-cased
    };
    // uri null: "No URI!" and two empty parts.
    static UriParts SplitUri(const char *uri);
    // The built-in error page (header lines, empty line, HTML); the
    // transaction, administrator and style sheet are HTML-escaped. A
    // character set, when given, is declared in the Content-Type line.
    static std::string BuiltinErrorPage(Result code, const std::string &transaction,
                                        const std::string &administrator,
                                        const std::string &styleSheet,
                                        const std::string &charset = std::string());

    // Reads the configuration file into this model when the file is whole
    // (Reset first); else leaves the model as it was and returns
    // ParserFileNotFound's code. Start-up and reload use it, and so can
    // tests.
    int ReadConfiguration(const std::string &path);

    CZelConversation &GetConversation() { return m_Conversation; }
    const std::string &GetSessionIdName() const { return m_strSessIdName; }
    const std::string &GetConfigPath() const { return m_strConfFile; }
    int32_t GetOwnConfigTime() const { return m_nOwnConfigTime; }

protected:
    // Unit state of the application: the configuration path, the use
    // limit and the version of the file the last Init read (or refused).
    std::string m_strConfFile;
    long m_nMaxRunUsage = 0;
    CZelConfigFileVersion m_ConfVersion;

private:
    // Start-up steps after the configuration was read; the stamp as it
    // stood before the read, when the table was attached then.
    int InitLogAndDtp(bool reconfigure, const CZelConfigFileVersion &version, bool stampKnown,
                      time_t stampBefore);
    // Opens the log of the configuration (through the log server) and
    // points standard error at it.
    void OpenLog();
    // The cleaner's start (and, in a cleaner, its hand-over after a reload).
    int StartCleaner(CZelCleanerStart start = CZelCleanerStart::Fresh);
    // A cleaner forked while a request was being served must never answer
    // or finish that request: it ends here when its work is done.
    [[noreturn]] void EndCleanerForkedInRequest(int status);
    void ClearRequestStrings();
    void SendBuiltinErrorPage(Result code);
    // HEAD: the header block; another method: 405 with the allowed ones.
    void AnswerWithoutSession(Method method);

    CZelConversation m_Conversation;
    std::string m_strTransaction;      // the four request strings
    std::string m_strLocap;
    std::string m_strSessionId;
    std::string m_strCdaText;
    bool m_bCleanerLoop = false;       // inside the cleaner-start step
    // Configuration time: the reconfiguration stamp as it stood just before
    // the last read of the file (see Init).
    int32_t m_nOwnConfigTime = 0;
    bool m_bConfigLoaded = false;      // a configuration is in force
    time_t m_tLastCleanerCheck = 0;    // second of the last KeepCleanerAlive probe

    std::string m_strSessIdName = "SID";   // session-id field of the request
    bool m_bInRequest = false;         // between OnBeginRequest and OnEndRequest
    bool m_bForkedInRequest = false;   // this process is a cleaner forked then
    bool m_bResponseSent = false;      // a page or error page went out
};

#endif
