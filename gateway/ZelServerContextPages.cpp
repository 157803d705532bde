// Server context: the error pages and the empty response.
#include <string>

#include "ZelServerContext.h"
#include "logprint.h"
#include "xfcgihtml.h"
#include "xfcgiout.h"

namespace {

std::string Escaped(const std::string &value) {
    std::string out;
    xFcgiEscapeData(value, out);
    return out;
}

}  // namespace

std::string CZelServerContext::BuiltinErrorPage(Result code, const std::string &transaction,
                                                const std::string &administrator,
                                                const std::string &styleSheet,
                                                const std::string &charset) {
    // Every value that reaches the page is escaped: the transaction name
    // comes from the request, and none of them may carry markup.
    const std::string codeText = std::to_string(ResultCode(code));
    std::string page = "Content-Type: text/html";
    if (!charset.empty()) page += "; charset=" + charset;
    page +=
        "\n"
        "Cache-Control: no-cache\n"
        "\n"
        "<html>\n"
        "    <head>\n"
        "        <title>Application Terminated</title>\n";
    if (!styleSheet.empty())
        page += "        <link rel=\"stylesheet\" href=\"" + Escaped(styleSheet) + "\" type=\"text/css\">\n";
    page += "    </head>\n"
            "    <body>\n"
            "        <p align=\"center\">Application " + Escaped(transaction) + " ended with code " +
            codeText + "</p>\n";
    if (!administrator.empty() && IsError(code)) {
        const std::string admin = Escaped(administrator);
        page += "        <p align=\"center\">"
                "            More information could be available in the Web Server log file.<br>\n"
                "            To report this error, please contact Web Master at <br>\n"
                "            <a href=\"mailto:" + admin + "\">" + admin + "</a><br>\n"
                "            Please describe what you were doing at the time that the error occured.</p>\n";
    }
    page += "    </body></html>\n";
    return page;
}

void CZelServerContext::SendBuiltinErrorPage(Result code) {
    xFcgiSendText(BuiltinErrorPage(code, m_strTransaction, GetServerAdmin(), GetStyleSheetHtml(),
                                   xFcgiGetCharset()));
    xFcgiFlushText();
    m_bResponseSent = true;
}

void CZelServerContext::OutputErrorFile(Result code) {
    if (!GetErrorHtx().empty()) {
        m_Conversation.ProcessHtx(GetErrorHtx(), code, GetServerAdmin().c_str());
        return;
    }
    logError("#App: Failed to produce output file %s, error %d\n", "", ResultCode(code));
    if (logCtrlFlgs & LOG_EVENTS) logPrintf("#App: printing header\n");
    SendBuiltinErrorPage(code);
}

void CZelServerContext::SendEmptyResponseIfNone() {
    if (m_bResponseSent || m_Conversation.WasPageSent()) return;
    // A web server turns a response without headers into an error of its
    // own; an end without a page still answers with the header block.
    xFcgiSendContentType();
    xFcgiSendText("\r\n");
    xFcgiFlushText();
    xFcgiContentTypeReset();
    m_bResponseSent = true;
}
