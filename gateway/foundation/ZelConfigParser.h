// CZelConfigParser: the gateway's configuration model, filled from the XML
// configuration file one element at a time, with its three tables (locaps,
// transactions, application groups).
//
// Reading a file is CIcParserIntegrator::OpenConfigFile (Reset first, then
// the file): every element of the document, at any depth and in document
// order, goes to ParseICConfig; ParseICComplete ends the read. Element and
// attribute names are matched without regard to case.
//
// Values are taken leniently: numbers convert as atoi does (clamped to 32
// bits), a missing VALUE gives an empty string or 0, and invalid locaps,
// transactions or groups without a key and unusable Setenv elements are
// dropped. A few values are corrected because the gateway cannot run on
// them: InstanceCleanup below 1 and MaxSessions below 1 take their defaults,
// and a MaxSessions too large for a session table is cut (each with a log
// line).
#ifndef QOR_ZELCONFIGPARSER_H
#define QOR_ZELCONFIGPARSER_H

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct xmlNode;

// ---------------------------------------------------------------- records --
struct CZelLocapInfo {
    std::string m_strAddress;
    int32_t m_nPort = 0;
};

struct CZelTransactionInfo {
    std::string m_strId;
    std::string m_strLocap;
    std::string m_strCda;
    std::string m_strStyleSheet;
    std::string m_strAddHtx;
    std::string m_strLog;
};

struct CZelAppGroupInfo {
    std::string m_strUrl;
    std::string m_strName;
    std::string m_strLog;
    std::string m_strStore;
    std::string m_strHtml;
    std::string m_strTransaction;
    std::string m_strCda;
    std::string m_strSidName = "SID";   // name of the session-id field
    bool m_bDezUr = false;
    bool m_bPidPool = false;
};

// ----------------------------------------------------------------- tables --
// An ordered map from a key to the record it owns; storing under a key
// that is taken replaces (and frees) the earlier record.
template <class Info>
class CZelConfigTable {
public:
    using Map = std::map<std::string, std::unique_ptr<Info>>;

    virtual ~CZelConfigTable() = default;

    void Store(const std::string &key, std::unique_ptr<Info> info) { m_Map[key] = std::move(info); }
    void Clear() { m_Map.clear(); }
    std::size_t Size() const { return m_Map.size(); }
    bool IsEmpty() const { return m_Map.empty(); }
    // The record stored under exactly this key, or null.
    const Info *Lookup(const std::string &key) const {
        auto it = m_Map.find(key);
        return it == m_Map.end() ? nullptr : it->second.get();
    }
    // Every entry in key order.
    const Map &Entries() const { return m_Map; }

protected:
    Info *LookupMutable(const std::string &key) {
        auto it = m_Map.find(key);
        return it == m_Map.end() ? nullptr : it->second.get();
    }

    Map m_Map;
};

// Key: the locap name in upper case.
class CZelLocapTable : public CZelConfigTable<CZelLocapInfo> {
public:
    const CZelLocapInfo *Find(const std::string &name) const { return Lookup(name); }
};

// Key: the transaction name in upper case. The embedded default entry
// answers every name that is not stored.
class CZelTransactionTable : public CZelConfigTable<CZelTransactionInfo> {
public:
    // The record stored under exactly this name; one with an empty locap is
    // given the default locap (and keeps it). An unknown name yields the
    // default entry, its id set to the name and its locap the default.
    CZelTransactionInfo *Find(const std::string &name);
    void SetDefaultLocap(const std::string &name) { m_Default.m_strLocap = name; }
    const std::string &GetDefaultLocap() const { return m_Default.m_strLocap; }
    // Empties the table and forgets the default locap.
    void Reset();

private:
    CZelTransactionInfo m_Default;
};

// Key: the URL exactly as written in the file.
class CZelAppGroupTable : public CZelConfigTable<CZelAppGroupInfo> {
public:
    // Exactly this URL, else the URL in upper case, else null.
    const CZelAppGroupInfo *Find(const std::string &url) const;
};

// ------------------------------------------------------------------ model --
class CZelConfigParser {
public:
    static constexpr int32_t kDefaultInstanceCleanup = 120;
    static constexpr int32_t kDefaultSystemCleanup = 240;
    static constexpr int32_t kDefaultMaxSessions = 1024;
    static constexpr int32_t kDefaultCacheCleanup = 30;
    static constexpr int32_t kDefaultMaxUsage = 16000;
    static constexpr int32_t kPidPoolSpan = 150000;     // high = low + span
    static constexpr const char *kDefaultLogFile = "/usr/local/qoric/logs/qoric.log";
    static constexpr const char *kDefaultLogOptions = "h3MPK";
    static constexpr const char *kDefaultServerRoot = "/usr/local/qoric/";
    // The host's single-byte character set, which every page declares.
    static constexpr const char *kDefaultCharacterSet = "ISO-8859-1";
    // Setenv limits: name below 48, value below 200, joined text at most 255.
    static constexpr std::size_t kMaxSetenvName = 47;
    static constexpr std::size_t kMaxSetenvValue = 199;
    static constexpr std::size_t kMaxSetenvText = 255;

    CZelConfigParser() = default;
    virtual ~CZelConfigParser() = default;
    CZelConfigParser(const CZelConfigParser &) = delete;
    CZelConfigParser &operator=(const CZelConfigParser &) = delete;

    // Defaults a file may override, before each read. Strings (except the
    // character set), the maximum usage and the application groups keep
    // their values.
    void Reset();
    // Applies one element; always 0.
    int ParseICConfig(xmlNode *element);
    // Hands a known default locap to the transaction table; 0.
    int ParseICComplete();
    // out = the first VALUE attribute (any case) with a name and a value;
    // empty when there is none. True when one was found.
    static bool GetValue(xmlNode *attributes, std::string &out);

    // Per request: the application group's STORE (cleared with no argument).
    void SetAlternateStore(std::string store) { m_strAlternateStore = std::move(store); }
    void SetAlternateStore() { m_strAlternateStore.clear(); }

    const std::string &GetServerRoot() const { return m_strServerRoot; }
    const std::string &GetServerAdmin() const { return m_strServerAdmin; }
    const std::string &GetRegularStore() const { return m_strRegularStore; }
    const std::string &GetAlternateStore() const { return m_strAlternateStore; }
    const std::string &GetCacheStore() const { return m_strCacheStore; }
    const std::string &GetPrenInfoHtx() const { return m_strPrenPage; }
    const std::string &GetErrorHtx() const { return m_strErrorPage; }
    const std::string &GetStyleSheetHtml() const { return m_strDefaultStyleSheet; }
    const std::string &GetAdditionalHtx() const { return m_strAdditionalHtml; }
    const std::string &GetThisLocap() const { return m_strThisLocap; }
    const std::string &GetDefaultLocap() const { return m_strDefaultLocap; }
    const std::string &GetLogFile() const { return m_strLogFile; }
    const std::string &GetLogOptions() const { return m_strLogOptions; }
    // Kept only for the editor, which writes it back; the gateway ignores it.
    const std::string &GetLogLevel() const { return m_strLogLevel; }
    const std::string &GetCharacterSet() const { return m_strCharacterSet; }
    // A usable CharacterSet value: a character-set name (letters, digits
    // and "-_.:()+"), not one of the multi-byte UTF or UCS sets.
    static bool IsSingleByteCharsetName(const std::string &name);

    int32_t GetFccModsLevel() const { return m_nFccModsLevel; }
    int32_t GetCacheCleanup() const { return m_nCacheCleanup; }
    int32_t GetInstanceTimeout() const { return m_nInstanceCleanup; }
    int32_t GetSystemTimeout() const { return m_nSystemCleanup; }
    int32_t GetMaxSessions() const { return m_nMaxSessions; }
    int32_t GetPidPoolLow() const { return m_nPidPoolLow; }
    int32_t GetPidPoolHigh() const { return m_nPidPoolHigh; }
    int32_t GetMaxUsage() const { return m_nMaxUsage; }

    bool IsTraceAppEnabled() const { return m_bTraceApp; }
    bool IsTraceDtpEnabled() const { return m_bTraceDtp; }
    bool IsTraceComEnabled() const { return m_bTraceCom; }
    bool IsTraceXmlEnabled() const { return m_bTraceXml; }
    bool IsDezUrEnabled() const { return m_bDezUr; }

    CZelLocapTable &GetLocapTable() { return m_LocapTable; }
    const CZelLocapTable &GetLocapTable() const { return m_LocapTable; }
    CZelTransactionTable &GetTransactionTable() { return m_TransactionTable; }
    const CZelTransactionTable &GetTransactionTable() const { return m_TransactionTable; }
    CZelAppGroupTable &GetAppGroupTable() { return m_AppGroupTable; }
    const CZelAppGroupTable &GetAppGroupTable() const { return m_AppGroupTable; }

    // The Setenv entries this read accepted (upper-case name, value), in
    // file order; also handed to the toolkit's environment table.
    const std::vector<std::pair<std::string, std::string>> &GetSetenvList() const {
        return m_Setenv;
    }
    // True when this read met an element of that name (any case); lets the
    // editor write back only the settings the file really had.
    bool HasElement(std::string_view name) const;

private:
    static std::string CZelConfigParser::*StringSetting(const char *tag);
    static bool CZelConfigParser::*TraceSwitch(const char *tag);
    void ParseLocap(xmlNode *element);
    void ParseTransaction(xmlNode *element);
    void ParseAppGroup(xmlNode *element);
    void ParseSetenv(xmlNode *element);
    void ParsePidPool(xmlNode *element);
    void SetMaxSessions(int32_t value);
    void SetInstanceCleanup(int32_t value);

    std::string m_strServerRoot;
    std::string m_strServerAdmin;
    std::string m_strRegularStore;
    std::string m_strAlternateStore;
    std::string m_strCacheStore;
    std::string m_strPrenPage;
    std::string m_strErrorPage;
    std::string m_strDefaultStyleSheet;
    std::string m_strAdditionalHtml;
    std::string m_strThisLocap;
    std::string m_strDefaultLocap;
    std::string m_strLogFile;
    std::string m_strLogOptions;
    std::string m_strLogLevel;
    std::string m_strCharacterSet = kDefaultCharacterSet;
    int32_t m_nFccModsLevel = 0;          // 0 none, 1 limited, 2 full
    int32_t m_nCacheCleanup = kDefaultCacheCleanup;
    int32_t m_nInstanceCleanup = kDefaultInstanceCleanup;
    int32_t m_nSystemCleanup = kDefaultSystemCleanup;
    int32_t m_nMaxSessions = kDefaultMaxSessions;
    int32_t m_nPidPoolLow = 0;
    int32_t m_nPidPoolHigh = 0;
    CZelTransactionTable m_TransactionTable;
    CZelLocapTable m_LocapTable;
    CZelAppGroupTable m_AppGroupTable;
    int32_t m_nMaxUsage = kDefaultMaxUsage;
    bool m_bTraceApp = false;
    bool m_bTraceDtp = false;
    bool m_bTraceCom = false;
    bool m_bTraceXml = false;
    bool m_bDezUr = false;

    std::vector<std::pair<std::string, std::string>> m_Setenv;
    std::set<std::string> m_SeenElements;   // lower-case names met this read
};

#endif
