// The configuration form: general settings, screen-conversion settings,
// locap, transaction and application-group tables, environment entries.
#include "ConfigForm.h"

#include <ostream>
#include <string>
#include <vector>

#include "FormElements.h"
#include "IcParserIntegrator.h"
#include "ZelConfigParser.h"

namespace {

const std::string *Field(const RequestMap_t &request, const std::string &name) {
    auto it = request.find(name);
    return it == request.end() ? nullptr : &it->second;
}

// "<table>" with a one-cell title row and a row of column headings.
void TableHead(std::ostream &out, const char *title, const std::vector<const char *> &headings) {
    out << "<table>\n"
           "    <thead>\n"
           "        <tr>\n"
           "            <td>\n"
           "                <b><font color=\"blue\">"
        << title
        << "</font></b>\n"
           "            </td>\n"
           "        </tr>\n"
           "        <tr>\n";
    for (const char *h : headings)
        out << "            <td>\n"
               "                <b><font color=\"blue\">"
            << h
            << "</font></b>\n"
               "            </td>\n";
    out << "        </tr>\n"
           "    </thead>\n"
           "    <tbody>\n";
}

void TableTail(std::ostream &out) {
    out << "    </tbody>\n"
           "</table>\n"
           "<br><hr><br>\n";
}

// One cell holding a text input at indentation 20.
template <class Value>
void TextCell(std::ostream &out, const std::string &name, int size, const Value &value,
              int maxlength = -1) {
    out << "            <td>\n";
    ShowTextInputElement(out, 20, name, size, value, maxlength);
    out << "            </td>\n";
}

// Rows of the table plus one more when the request asks for it.
int RowCount(std::size_t entries, const RequestMap_t &request, const char *addField) {
    return static_cast<int>(entries) + (Field(request, addField) ? 1 : 0);
}

void GeneralSettings(std::ostream &out, const CZelConfigParser &m) {
    out << "<table border=\"0\">\n";
    ShowTextInputElementInRow(out, 4, "ServerRoot", "Server root: ", 60, m.GetServerRoot(), -1);
    ShowTextInputElementInRow(out, 4, "ServerAdmin", "Administrator's e-mail address: ", 30,
                              m.GetServerAdmin(), -1);
    ShowTextInputElementInRow(out, 4, "RegularStore", "Regular page store: ", 60,
                              m.GetRegularStore(), -1);
    ShowTextInputElementInRow(out, 4, "Cache", "Cache store: ", 60, m.GetCacheStore(), -1);
    ShowTextInputElementInRow(out, 4, "ThisLocap", "QOR/ic Locap: ", 20, m.GetThisLocap(), -1);
    ShowTextInputElementInRow(out, 4, "LogFile", "Log file: ", 60, m.GetLogFile(), -1);
    ShowTextInputElementInRow(out, 4, "LogOptions", "Default Log options: ", 10,
                              m.GetLogOptions(), -1);
    ShowTextInputElementInRow(out, 4, "OnPRENPage", "Transaction termination template: ", 60,
                              m.GetPrenInfoHtx(), -1);
    ShowTextInputElementInRow(out, 4, "OnErrorPage", "Transaction error template: ", 60,
                              m.GetErrorHtx(), -1);
    ShowTextInputElementInRow(out, 4, "InstanceCleanup", "Session timeout (seconds): ", 10,
                              m.GetInstanceTimeout(), -1);
    ShowTextInputElementInRow(out, 4, "SystemCleanup", "System timeout (seconds): ", 10,
                              m.GetSystemTimeout(), -1);
    ShowTextInputElementInRow(out, 4, "MaxSessions", "Maximum sessions allowed: ", 10,
                              m.GetMaxSessions(), -1);
    ShowTextInputElementInRow(out, 4, "PidPoolLow", "PID POOL Low: ", 10, m.GetPidPoolLow(), -1);
    ShowTextInputElementInRow(out, 4, "PidPoolHigh", "PID POOL High: ", 10, m.GetPidPoolHigh(),
                              -1);
    out << "</table>\n<br><hr><br>\n";
}

void ConversionSettings(std::ostream &out, const CZelConfigParser &m) {
    static const char *const kFccOptions[] = {"none", "limited", "full", nullptr};
    out << "<table border=\"0\">\n"
           "    <tr>\n"
           "<b><font color=\"blue\">Dynamic Screen Format Conversion Parameters:</font></b>\n"
           "    </tr>\n";
    const int level = m.GetFccModsLevel();
    ShowSelectInputElementInRow(out, 4, "FccModsSupport", "FCC Modifiers support: ",
                                level >= 0 && level <= 2 ? level : -1, kFccOptions);
    ShowTextInputElementInRow(out, 4, "AdditionalHtml", "Dynamically appended template:  ", 60,
                              m.GetAdditionalHtx(), -1);
    ShowTextInputElementInRow(out, 4, "DefaultStylesheet", "Default stylesheet: ", 60,
                              m.GetStyleSheetHtml(), -1);
    out << "</table>\n";
}

void LocapTable(std::ostream &out, const CZelConfigParser &m, const RequestMap_t &request) {
    const std::string &defaultLocap = m.GetTransactionTable().GetDefaultLocap();
    const auto &entries = m.GetLocapTable().Entries();
    const int n = RowCount(entries.size(), request, "LocapAdd");
    ShowInputElement(out, 4, "hidden", "LocapCount", -1, n, "", -1);
    TableHead(out, "Locaps:", {"Name", "Host", "Port", "Default"});
    auto it = entries.begin();
    for (int i = 0; i < n; ++i) {
        const std::string row = std::to_string(i);
        std::string name, host, port;
        if (it != entries.end()) {
            name = it->first;
            host = it->second->m_strAddress;
            port = std::to_string(it->second->m_nPort);
            ++it;
        }
        out << "        <tr>\n";
        TextCell(out, "LocapName" + row, 10, name);
        TextCell(out, "LocapHost" + row, 20, host);
        TextCell(out, "LocapPort" + row, 10, port);
        out << "            <td>\n";
        ShowRadioButtonInputElement(out, 20, "DefaultLocap", i, name == defaultLocap);
        out << "                default\n"
               "            </td>\n"
               "        </tr>\n";
    }
    TableTail(out);
}

void TransactionTable(std::ostream &out, const CZelConfigParser &m, const RequestMap_t &request) {
    const auto &entries = m.GetTransactionTable().Entries();
    const int n = RowCount(entries.size(), request, "TransactionAdd");
    ShowInputElement(out, 4, "hidden", "TransactionCount", -1, n, "", -1);
    TableHead(out, "Transactions:",
              {"Name", "Id", "Locap", "CDA", "Log Options", "Stylesheet", "Add .htx"});
    static const CZelTransactionInfo kEmpty;
    auto it = entries.begin();
    for (int i = 0; i < n; ++i) {
        const std::string row = std::to_string(i);
        std::string name;
        const CZelTransactionInfo *t = &kEmpty;
        if (it != entries.end()) {
            name = it->first;
            t = it->second.get();
            ++it;
        }
        out << "        <tr>\n";
        TextCell(out, "TransactionName" + row, 10, name);
        TextCell(out, "TransactionId" + row, 20, t->m_strId);
        TextCell(out, "TransactionLocap" + row, 10, t->m_strLocap);
        TextCell(out, "TransactionCda" + row, 10, t->m_strCda, 500);
        TextCell(out, "TransactionLog" + row, 10, t->m_strLog, 500);
        TextCell(out, "TransactionStyle" + row, 10, t->m_strStyleSheet, 500);
        TextCell(out, "TransactionExtraHtx" + row, 10, t->m_strAddHtx, 500);
        out << "        </tr>\n";
    }
    TableTail(out);
}

void AppGroupTable(std::ostream &out, const CZelConfigParser &m, const RequestMap_t &request) {
    const auto &entries = m.GetAppGroupTable().Entries();
    const int n = RowCount(entries.size(), request, "AppGroupAdd");
    ShowInputElement(out, 4, "hidden", "AppGroupCount", -1, n, "", -1);
    TableHead(out, "AppGroups:",
              {"Name", "URL", "Pid Pool", "Store", "Log Options", "HTML", "Transaction",
               "CDA Text"});
    static const CZelAppGroupInfo kEmpty;
    auto it = entries.begin();
    for (int i = 0; i < n; ++i) {
        const std::string row = std::to_string(i);
        const CZelAppGroupInfo *g = &kEmpty;
        bool real = false;
        if (it != entries.end()) {
            g = it->second.get();
            real = true;
            ++it;
        }
        out << "        <tr>\n";
        TextCell(out, "AppGroupName" + row, 10, g->m_strName);
        TextCell(out, "AppGroupUrl" + row, 12, g->m_strUrl);
        TextCell(out, "AppGroupPid" + row, 8, std::string(real && g->m_bPidPool ? "Yes" : ""));
        TextCell(out, "AppGroupStore" + row, 50, g->m_strStore);
        TextCell(out, "AppGroupLog" + row, 10, g->m_strLog);
        TextCell(out, "AppGroupHtml" + row, 12, g->m_strHtml);
        TextCell(out, "AppGroupTrid" + row, 10, g->m_strTransaction);
        TextCell(out, "AppGroupCda" + row, 12, g->m_strCda);
        out << "            <td>\n"
               "            </td>\n"
               "        </tr>\n";
    }
    TableTail(out);
}

// The Setenv entries of this file (not those of earlier reads that the
// process's environment table still holds).
void EnvironmentEntries(std::ostream &out, const CZelConfigParser &m) {
    const auto &list = m.GetSetenvList();
    if (list.empty()) return;
    out << "<p><b><font color=\"blue\">Environment Variables set:</font></b>\n";
    for (const auto &e : list) out << "<br>" << Html(e.first + "=" + e.second) << "\n";
    out << "<br><hr><br>\n";
}

void FormEnd(std::ostream &out) {
    // The Add buttons save the form like Submit (Reset cannot undo that,
    // so they say it) and show one more empty row in their table.
    out << "    <br>\n"
           "    <input type=\"submit\" value=\"Submit\" >\n"
           "    <input type=\"reset\" value=\"Reset\" >\n"
           "    <input type=\"submit\" name=\"LocapAdd\" value=\"Save and add a locap\" >\n"
           "    <input type=\"submit\" name=\"TransactionAdd\" value=\"Save and add a transaction\" >\n"
           "    <input type=\"submit\" name=\"AppGroupAdd\" value=\"Save and add an application group\" >\n"
           "    <input\n"
           "        type=\"hidden\"\n"
           "        name=\"nextaction\"\n"
           "        value=\"write_file\">\n"
           "</form>\n"
           "\n";
}

}  // namespace

Result ReadConfigPath(const std::string &path, CZelConfigParser &model, int *parseStatus,
                      std::string *fault) {
    model.Reset();
    CIcParserIntegrator reader(&model);
    const Result r = reader.OpenFile(path, 0, 0);
    const bool read = r == Result::Success;
    if (parseStatus) *parseStatus = read ? reader.GetLastParseStatus() : 0;
    if (fault) *fault = read ? reader.GetLastParseFault() : std::string();
    return r;
}

bool ReadConfigFile(const RequestMap_t &request, CZelConfigParser &model, int *parseStatus,
                    std::string *fault) {
    if (parseStatus) *parseStatus = 0;
    if (fault) fault->clear();
    const std::string *path = Field(request, "ConfigFile");
    if (!path) return false;
    return ReadConfigPath(*path, model, parseStatus, fault) == Result::Success;
}

bool ShowConfigEditForm(std::istream & /*in*/, std::ostream &out, std::ostream & /*err*/,
                        const RequestMap_t &request, const std::string &savedAt) {
    CZelConfigParser model;
    int parseStatus = 0;
    std::string fault;
    if (!ReadConfigFile(request, model, &parseStatus, &fault)) {
        out << "<br>Can't read config file!<br>\n";
        return false;
    }
    const std::string *script = Field(request, "ScriptName");
    const std::string *path = Field(request, "ConfigFile");

    out << "<h2><font color=\"teal\"> QOR/ic Configuration </font></h2> \n";
    out << "<form action=\"" << Html(script ? *script : std::string()) << "\" method=\"post\">\n";
    if (path)
        out << "<font color=\"#808080\" size=\"-1\"><b>Config file:</b> " << Html(*path)
            << "</font><br><br>\n";
    if (!savedAt.empty())
        out << "<font color=\"green\"><b>Saved:</b> the file was written at " << Html(savedAt)
            << ".</font><br><br>\n";
    if (parseStatus != 0)
        out << "<font color=\"red\"><b>Warning:</b> the file is broken (" << Html(fault)
            << "); only what could be read is shown, and the editor will not save over the file"
            << " until it has been mended by hand.</font><br><br>\n";

    GeneralSettings(out, model);
    ConversionSettings(out, model);
    out << "<br><hr><br>\n";
    LocapTable(out, model, request);
    TransactionTable(out, model, request);
    AppGroupTable(out, model, request);
    EnvironmentEntries(out, model);
    FormEnd(out);
    return true;
}
