// Helpers of the editor tests: a browser's view of the form (which fields
// it posts), body encoding, a printable dump of a configuration model for
// comparisons, and a private temporary directory.
#pragma once

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <cstring>
#include <utility>

#include "EditorRequest.h"
#include "ZelConfigParser.h"

namespace edtest {

inline std::string Unescape(std::string s) {
    static const std::pair<const char *, const char *> refs[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
    for (const auto &r : refs) {
        std::string::size_type p = 0;
        while ((p = s.find(r.first, p)) != std::string::npos) {
            s.replace(p, std::strlen(r.first), r.second);
            p += std::strlen(r.second);
        }
    }
    return s;
}

inline std::string Attr(const std::string &tag, const char *name) {
    std::smatch m;
    if (std::regex_search(tag, m, std::regex(std::string("\\b") + name + "=\"([^\"]*)\"")))
        return Unescape(m[1]);
    return "";
}

// The fields a browser posts when Submit is pressed: text and hidden
// inputs, checked radios and the selected option of each select (the
// first when none is selected). Submit and reset buttons are not sent.
inline RequestMap_t FormFields(const std::string &html) {
    RequestMap_t fields;
    const std::regex input("<input([^>]*)>");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), input);
         it != std::sregex_iterator(); ++it) {
        const std::string tag = (*it)[1];
        const std::string type = Attr(tag, "type");
        if (type == "submit" || type == "reset") continue;
        if (type == "radio" && !std::regex_search(tag, std::regex("\\schecked\\s*$")))
            continue;
        fields.emplace(Attr(tag, "name"), Attr(tag, "value"));
    }
    const std::regex select("<select\\s+name=\"([^\"]*)\"[^>]*>([\\s\\S]*?)</select>");
    for (auto it = std::sregex_iterator(html.begin(), html.end(), select);
         it != std::sregex_iterator(); ++it) {
        const std::string body = (*it)[2];
        std::smatch m;
        if (std::regex_search(body, m, std::regex("<option selected>([^<]*)</option>")) ||
            std::regex_search(body, m, std::regex("<option>([^<]*)</option>")))
            fields.emplace((*it)[1], Unescape(m[1]));
    }
    return fields;
}

// application/x-www-form-urlencoded as a browser writes it.
inline std::string EncodeBody(const RequestMap_t &fields) {
    std::string body;
    auto enc = [](const std::string &s) {
        std::string out;
        for (unsigned char c : s) {
            if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
                out += static_cast<char>(c);
            } else if (c == ' ') {
                out += '+';
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                out += hex;
            }
        }
        return out;
    };
    for (const auto &f : fields) {
        if (!body.empty()) body += '&';
        body += enc(f.first) + "=" + enc(f.second);
    }
    return body;
}

// Every setting of a model, one per line, in a fixed order.
inline std::string Dump(const CZelConfigParser &m) {
    std::ostringstream o;
    o << "root=" << m.GetServerRoot() << "\nadmin=" << m.GetServerAdmin()
      << "\nregular=" << m.GetRegularStore() << "\ncache=" << m.GetCacheStore()
      << "\npren=" << m.GetPrenInfoHtx() << "\nerror=" << m.GetErrorHtx()
      << "\ncss=" << m.GetStyleSheetHtml() << "\nhtml=" << m.GetAdditionalHtx()
      << "\nthis=" << m.GetThisLocap() << "\ndefault=" << m.GetDefaultLocap()
      << "\nlog=" << m.GetLogFile() << " [" << m.GetLogOptions() << "]"
      << "\nfcc=" << m.GetFccModsLevel() << "\ncachecleanup=" << m.GetCacheCleanup()
      << "\ninstance=" << m.GetInstanceTimeout() << "\nsystem=" << m.GetSystemTimeout()
      << "\nmaxsessions=" << m.GetMaxSessions() << "\npool=" << m.GetPidPoolLow() << ".."
      << m.GetPidPoolHigh() << "\nmaxusage=" << m.GetMaxUsage()
      << "\ntraces=" << m.IsTraceAppEnabled() << m.IsTraceDtpEnabled() << m.IsTraceComEnabled()
      << m.IsTraceXmlEnabled() << " dezur=" << m.IsDezUrEnabled()
      << "\ntdefault=" << m.GetTransactionTable().GetDefaultLocap() << "\n";
    for (const auto &l : m.GetLocapTable().Entries())
        o << "locap " << l.first << " " << l.second->m_strAddress << ":" << l.second->m_nPort
          << "\n";
    for (const auto &t : m.GetTransactionTable().Entries())
        o << "tran " << t.first << " id=" << t.second->m_strId << " locap=" << t.second->m_strLocap
          << " cda=" << t.second->m_strCda << " css=" << t.second->m_strStyleSheet
          << " htx=" << t.second->m_strAddHtx << " log=" << t.second->m_strLog << "\n";
    for (const auto &g : m.GetAppGroupTable().Entries())
        o << "group " << g.first << " url=" << g.second->m_strUrl << " name=" << g.second->m_strName
          << " log=" << g.second->m_strLog << " store=" << g.second->m_strStore
          << " html=" << g.second->m_strHtml << " trid=" << g.second->m_strTransaction
          << " cda=" << g.second->m_strCda << " sid=" << g.second->m_strSidName
          << " dezur=" << g.second->m_bDezUr << " pool=" << g.second->m_bPidPool << "\n";
    for (const auto &e : m.GetSetenvList()) o << "env " << e.first << "=" << e.second << "\n";
    return o.str();
}

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// A fresh directory under the test's working folder, removed at the end.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "edtest.XXXXXX";
        const char *d = mkdtemp(tmpl);
        char cwd[4096];
        path_ = std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + (d ? d : "edtest");
    }
    ~TempDir() {
        const std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0) std::perror("cleanup");
    }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace edtest
