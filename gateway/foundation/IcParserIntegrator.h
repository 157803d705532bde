// CIcParserIntegrator: binds the template toolkit to the gateway. It works
// in one of two modes, chosen by its constructor:
//  - configuration mode reads the XML configuration file into a
//    CZelConfigParser: every element of the document, at any depth and in
//    document order, is applied, then the read is completed
//    (IcParserIntegrator.cpp);
//  - page mode finds a page template in the template stores, hands it the
//    screen's data, field control modifications and session values and
//    sends the filled page, or reads a submitted form back into the screen
//    data (IcParserIntegratorPage.cpp).
// The class statics register the err.* result constants for templates at
// start-up and release the toolkit's state at exit.
//
// Nothing is thrown out of the integrator: failures are Result codes.
#ifndef QOR_ICPARSERINTEGRATOR_H
#define QOR_ICPARSERINTEGRATOR_H

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>

#include "Result.h"

class CBuffer;
class CZelConfigParser;
struct XmlRef;
class CZelFccMods;
struct tcpHTML;

// The session values a page shows as pib.* variables.
struct _tagT3IVALUES {
    std::string strTransaction;   // pib.transaction
    std::string strUser;          // pib.user
    std::string strTerminal;      // pib.terminal
    std::string strDate;          // pib.date
    std::string strTime;          // pib.time
    std::string strLocap;         // pib.locap
    std::string strSessionId;     // the session-id variable
};

class CIcParserIntegrator {
public:
    // Configuration mode; the model belongs to the caller.
    explicit CIcParserIntegrator(CZelConfigParser *config) : m_pConfig(config) {}
    // Page mode over the caller's session values (may be null: no pib.*
    // variables) and screen (20-byte MCS header and data; may be null).
    // Both stay the caller's and must outlive the integrator.
    CIcParserIntegrator(_tagT3IVALUES *values, CBuffer *mcsData, const std::string &errorText);
    // Detaches the template in use (ReleaseFileTab).
    virtual ~CIcParserIntegrator();
    CIcParserIntegrator(const CIcParserIntegrator &) = delete;
    CIcParserIntegrator &operator=(const CIcParserIntegrator &) = delete;

    bool IsConfigMode() const { return m_pConfig != nullptr; }

    // Configuration mode: OpenConfigFile(name); page mode:
    // OpenHtmlFile(name, send, loadData).
    Result OpenFile(const std::string &name, char send, char loadData) {
        return m_pConfig ? OpenConfigFile(name) : OpenHtmlFile(name, send, loadData);
    }

    // Reads the file into the model (the caller calls Reset first). Success,
    // also when the file is broken (what could be read is applied; see
    // GetLastParseStatus); ParserFileNotFound when the file cannot be
    // opened or is not a regular file: the model is then unchanged.
    Result OpenConfigFile(const std::string &name);
    // The same over a stream the caller opened and closes.
    Result ReadConfigStream(FILE *stream, const std::string &name);
    // Reads the file only when it is whole: the model is then Reset and
    // filled (Success). A file that cannot be opened or is broken leaves
    // the model exactly as it was: ParserFileNotFound, with the reason in
    // GetLastParseFault. The gateway reads its configuration this way.
    Result ReadWholeConfigFile(const std::string &name);
    // Whether the file can be opened and is whole, without applying it: 0,
    // ParserFileNotFound's code, or the parser's fault code; why says what.
    static int CheckConfigFile(const std::string &name, std::string &why);

    // The last read: 0 when the document was whole, else the code of its
    // first fault (XmlParseFault: it broke off, a name was invalid, the
    // file could not be read), and that fault as "line N: what".
    int GetLastParseStatus() const { return m_nParseStatus; }
    const std::string &GetLastParseFault() const { return m_strParseFault; }

    // ---- page mode -----------------------------------------------------
    // The screen's field control modifications (translated), the CDA text
    // shown as "cda.text", and the field that gets the cursor (-1: none).
    // Pointers stay the caller's.
    void SetFccMods(CZelFccMods *mods) { m_pFccMods = mods; }
    void SetCda(const CBuffer *cda) { m_pCda = cda; }
    void SetSelectedField(int field) { m_nSelectedField = field; }
    // Reading a form: the host's own screen (20-byte MCS header and data,
    // as stored) that the form changes. Without it the screen data starts
    // from zeros (the DezUR data block).
    void SetHostScreen(const CBuffer *screen) { m_pHostScreen = screen; }
    // Sending a page (the current screen shown again after refused input):
    // fields the user typed in (posted otherwise than the page showed them)
    // show what was typed, except fields the screen shows protected; the
    // others show the host's values as the page first showed them.
    void SetShowTyped(bool on) { m_bShowTyped = on; }
    // After OpenHtmlFile refused a form (InvalidParam): the field whose
    // posted number it cannot hold, and what it takes ("a number of ...").
    const std::string &GetRefusedField() const { return m_strRefusedField; }
    const std::string &GetRefusedTakes() const { return m_strRefusedTakes; }
    // The screen-data room of the last page opened with its screen: the end
    // of its furthest field (0 before one was opened).
    int GetScreenRoom() const { return m_nScreenRoom; }
    // Whether the page opened last takes the protection of its fields from
    // the host's modifications (a field of its input table has an
    // fccindex: pages converted with limited or full support).
    bool FollowsFccMods() const;

    // Resolves a template name: a name beginning with "/" as it is, else
    // the first of alternate store, regular store, cache store and
    // "/usr/local/qoric/htx/" that holds it; on success name becomes the
    // path. FileNotFound, BadFormat (not a regular file) or ParserGeneric.
    static Result FindTemplateFile(std::string &name);

    // The template a browser's LAST_QORIC_FORM cookie names (its path below
    // the server root, as the cookie is written): true, with the path, only
    // for a .htx file that lies in one of the template stores, so that a
    // cookie can never have the log, the configuration or a program
    // compiled as a template.
    static bool FindFormTemplate(const std::string &name, std::string &path);

    // Between these two calls (one request of the gateway) a template name
    // that was found once is not searched for in the stores again, nor its
    // file examined again by the template cache: a request uses the same
    // page for reading the form and for the reply. A name not found is
    // searched for again (a conversion may have written it meanwhile).
    static void BeginRequest();
    static void EndRequest();

    // Finds and compiles the template, hands it the screen and the session
    // values, then sends the page (send) or reads the submitted form back
    // into the screen data (no send, with loadData). Success, the search's
    // result, ParserFileNotFound (no compiled template), ParserGeneric
    // (loadData without a data description, a failed send), InvalidParam
    // (a number field posted with other characters: nothing merged) or
    // ParserBadDataRecord (reading a form of a page whose field file exists
    // but was refused: nothing merged).
    // A page of a screen (loadData, with the screen) that lies in the Cache
    // store with a field file of fields but without the converter's marker
    // was converted by an earlier build: it is not used (FileNotFound,
    // IsStalePage), so that the caller converts the screen afresh. Pages
    // of the other stores are the administrator's and are used as they are.
    Result OpenHtmlFile(const std::string &name, char send, char loadData);
    // Whether the last OpenHtmlFile found such a page.
    bool IsStalePage() const { return m_bStalePage; }

    // Detaches the template in use: its screen-data and field-control
    // pointers are cleared and the integrator forgets it.
    void ReleaseFileTab();

    // The template stores (empty: not used).
    static void SetRegularStorePath(const std::string &path);
    static void SetAlternateStorePath(const std::string &path);
    static void SetCachePath(const std::string &path);
    static const std::string &GetRegularStorePath() { return s_strRegularStorePath; }
    static const std::string &GetAlternateStorePath() { return s_strAlternateStorePath; }
    static const std::string &GetCachePath() { return s_strCachePath; }

    // Registers every err.* result constant that templates may test as a
    // template integer constant; call before the first ordinary put. 0.
    static int InitXFcgi();
    // Clears the output variables, empties the template cache and frees
    // the toolkit's field tables. 0.
    static int ExitXFcgi();

private:
    // Hands every element of a parsed configuration to the model.
    void ApplyConfigTree(XmlRef tree);
    // Parses the stream and applies it; wholeOnly refuses a broken document
    // (the model unchanged) and Resets the model before applying a whole one.
    Result ReadConfigTree(FILE *stream, const std::string &name, bool wholeOnly);
    // FindTemplateFile; fileTime receives the modification time of the file
    // found (nanoseconds), inCache whether it lies in the Cache store.
    static Result FindTemplateFile(std::string &name, int64_t &fileTime, bool &inCache);
    static Result FindTemplateFileOnDisk(std::string &name, int64_t &fileTime, bool &inCache);
    // Hands the screen to the template (loadData): header read, data padded
    // with the filler up to the template's screen size.
    void AttachScreen(tcpHTML *t);
    // The pib.*, mcs.error, mcs.activefield and cda.text variables.
    void PutPageValues(tcpHTML *t);
    // mcs.fccmods[N].* of a page that tests them (IcParserIntegratorFccMods.cpp).
    void PutFccModsValues(const tcpHTML *t);
    // Fields of the page's input table that the screen shows protected
    // (not as inputs) under the modifications and the screen's filler.
    std::set<std::string> ProtectedFields(const tcpHTML *t, char filler) const;
    // The name of the form field at the host's selected position of the
    // input table, counting real fields only; null when there is none.
    const char *ActiveField(const tcpHTML *t) const;
    // Values the user typed, shown in place of the screen's (SetShowTyped).
    void PutTypedValues(const tcpHTML *t);

    tcpHTML *m_pTemplate = nullptr;          // template in use, or null
    CZelFccMods *m_pFccMods = nullptr;
    const CBuffer *m_pCda = nullptr;
    CBuffer *m_pMcsData = nullptr;
    CZelConfigParser *m_pConfig = nullptr;   // not null: configuration mode
    int m_nSelectedField = -1;
    const CBuffer *m_pHostScreen = nullptr;
    bool m_bShowTyped = false;
    std::string m_strRefusedField;
    std::string m_strRefusedTakes;
    bool m_bStalePage = false;
    int m_nScreenRoom = 0;
    _tagT3IVALUES *m_pValues = nullptr;
    std::string m_strErrorText;
    int m_nParseStatus = 0;
    std::string m_strParseFault;

    static std::string s_strRegularStorePath;
    static std::string s_strAlternateStorePath;
    static std::string s_strCachePath;
};

#endif
