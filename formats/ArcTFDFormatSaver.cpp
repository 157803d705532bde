// Writing a converted screen: sorting the fields, the two files through
// temporary names, the field file's text and the page skeleton.
#include "ArcTFDFormatSaver.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ArcTFDDataField.h"
#include "ArcTFDDataLayout.h"
#include "ArcTFDFieldMeta.h"
#include "ArcTFDFormat.h"
#include "ArcTFDHtmlText.h"
#include "ArcTFDIntConnFilesInfo.h"
#include "ArcTFDOutputFiles.h"
#include "logprint.h"
#include "regularfile.h"

namespace {

using arc_html::Escaped;
using arc_html::Line;

// The page script and the start of the head, line by line (indent, text);
// the DoXMIT line gets the detail record length in WriteHead.
struct HeadLine {
    int indent;
    const char *text;
};
const HeadLine kHead[] = {
    {0, "<HTML>"},
    {4, "<HEAD>"},
    {8, "<SCRIPT LANGUAGE=JAVASCRIPT>"},
    {0, ""},
    {12, "var gFilter = false;"},
    {12, "var gToUpper, gAlpha, gNumeric;"},
    {0, ""},
    {12, "function DoFKEY(formName, nKey) {"},
    {16, "if (nKey >= 0 && nKey <= 22) {"},
    {20, "formName.McsStatus.value = \"0123456789ABCDEFGHIJKLM\".substr(nKey, 1);"},
    {20, "formName.submit();"},
    {16, "}"},
    {12, "}"},
    {0, ""},
    {12, "function OnBodyLoad() {"},
    {12, "<!--#if expr=\"mcs.activefield ne ''\"-->"},
    {20, "document.\\{mcs.name}.\\{mcs.activefield}.focus()"},
    {12, "<!--#endif-->"},
    {12, "}"},
    {0, ""},
    {12, "function DoXMIT(formName, nCount, nRecord) {"},
    {16, "if (nRecord <= 0)"},
    {20, "formName.McsCount.value = nCount;"},
    {16, "else"},
    {20, nullptr},   // the detail line
    {16, "formName.submit();"},
    {12, "}"},
    {0, ""},
    {12, "function EnableFilter(toupper, alpha, numeric) {"},
    {16, "gToUpper = toupper;"},
    {16, "gAlpha = alpha;"},
    {16, "gNumeric = numeric;"},
    {16, "gFilter = true;"},
    {12, "}"},
    {0, ""},
    {12, "function DisableFilter(fld) {"},
    {16, "if (document.layers && gToUpper)"},
    {20, "fld.value = fld.value.toUpperCase();"},
    {16, "gFilter = false;"},
    {12, "}"},
    {0, ""},
    {12, "function FilterInput(e) {"},
    {16, "if (gFilter) {"},
    {20, "var ch;"},
    {0, ""},
    {20, "if (document.layers)"},
    {24, "ch = String.fromCharCode(e.which);"},
    {20, "else"},
    {24, "ch = String.fromCharCode(event.keyCode);"},
    {0, ""},
    {20, "if (gAlpha"},
    {20, "&& ch >= ' '"},
    {20, "&& (ch < 'a' || ch > 'z')"},
    {20, "&& (ch < 'A' || ch > 'Z')) {"},
    {24, "return false;"},
    {20, "}"},
    {0, ""},
    {20, "if (gNumeric"},
    {20, "&& ch >= ' '"},
    {20, "&& (ch < '0' || ch > '9')"},
    {20, "&& ch != '-'"},
    {20, "&& ch != '$'"},
    {20, "&& ch != '.'"},
    {20, "&& ch != ',') {"},
    {24, "return false;"},
    {20, "}"},
    {0, ""},
    {20, "if (gToUpper) {"},
    {24, "if (!document.layers)"},
    {24, "event.keyCode = ch.toUpperCase().charCodeAt(0);"},
    {20, "}"},
    {0, ""},
    {20, "return true;"},
    {16, "}"},
    {16, "return true;"},
    {12, "}"},
    {0, ""},
    // An enterable field selects its value when it gets the focus, so that
    // typing replaces it as a terminal overtypes (a numeric field is shown
    // full to its MAXLENGTH and would take no key otherwise). A click into a
    // field lands on that selection, and its mouseup would put the caret
    // where the mouse is: the mouseup of the press that gave the focus is
    // not acted on; later clicks are.
    {12, "var gPressed = false, gKeepSelected = null;"},
    {0, ""},
    {12, "function SelectOnFocus(fld) {"},
    {16, "fld.select();"},
    {16, "gKeepSelected = gPressed ? fld : null;"},
    {12, "}"},
    {0, ""},
    {12, "document.addEventListener(\"mousedown\", function () {"},
    {16, "gPressed = true;"},
    {16, "gKeepSelected = null;"},
    {12, "}, true);"},
    {12, "document.addEventListener(\"mouseup\", function (e) {"},
    {16, "if (gKeepSelected && e.target == gKeepSelected)"},
    {20, "e.preventDefault();"},
    {16, "gPressed = false;"},
    {16, "gKeepSelected = null;"},
    {12, "}, true);"},
    {0, ""},
    {12, "if (document.layers)"},
    {16, "document.captureEvents(Event.KEYPRESS);"},
    {0, ""},
    {12, "document.onkeypress = FilterInput"},
    {0, ""},
    {8, "</SCRIPT>"},
};

// A converted format whose files are not written, and why.
Result FormatNotWritten(const char *why) {
    logPrintf("#Converter: screen format not converted: %s\n", why);
    return Result::FormatConversionError;
}

// Puts the files in place whole, or logs why they are not.
Result PutInPlace(const std::vector<CArcTFDOutputFile> &files) {
    std::string why;
    if (WriteOutputFiles(files, why)) return Result::Success;
    logPrintf("#Converter: %s\n", why.c_str());
    return Result::FormatConversionError;
}

}  // namespace

CArcTFDFormatSaver::CArcTFDFormatSaver(CArcTFDFormat *format, const char *) : m_pFormat(format) {}

CArcTFDFormatSaver::~CArcTFDFormatSaver() = default;

bool CArcTFDFormatSaver::CheckReady(const CArcTFDIntConnFilesInfo *info, int line) const {
    if (!m_pFormat) logPrintf("%s Line %d Something asserted\n", "FormatSaver.cpp", line);
    if (!info) logPrintf("%s Line %d Something asserted\n", "FormatSaver.cpp", line);
    return m_pFormat && info;
}

void CArcTFDFormatSaver::SortFields(int copies) {
    m_Sorted.clear();
    m_Clones.clear();
    m_pLayout.reset();
    if (!m_pFormat) return;
    for (int i = 0; i < m_pFormat->GetFieldCount(); ++i) {
        CArcTFDDrawableField *field = m_pFormat->GetFieldByIdx(i);
        if (copies) {
            m_Clones.push_back(field->Clone());
            field = m_Clones.back().get();
        }
        m_Sorted.push_back(field);
    }
    // By place; fields at one place keep the format's order.
    std::stable_sort(m_Sorted.begin(), m_Sorted.end(), CArcTFD::CArcTFDFldCompare());
}

const CArcTFDDataLayout &CArcTFDFormatSaver::Layout() {
    if (!m_pLayout) m_pLayout.reset(new CArcTFDDataLayout(m_Sorted));
    return *m_pLayout;
}

Result CArcTFDFormatSaver::WriteIntConnFile(CArcTFDIntConnFilesInfo *info) {
    if (!CheckReady(info, __LINE__)) return Result::FormatConversionError;
    SortFields(0);
    std::vector<CArcTFDOutputFile> files;
    if (!info->GetT3IPath().empty()) files.push_back({info->GetT3IPath(), GetT3IText()});
    if (!info->GetHTXPath().empty()) files.push_back({info->GetHTXPath(), GetHTXText(info)});
    if (const char *problem = WriteProblem()) return FormatNotWritten(problem);
    return PutInPlace(files);
}

Result CArcTFDFormatSaver::WriteT3IFile(CArcTFDIntConnFilesInfo *info) {
    if (!CheckReady(info, __LINE__)) return Result::FormatConversionError;
    if (info->GetT3IPath().empty()) return Result::Success;
    if (const char *problem = Layout().Problem()) return FormatNotWritten(problem);
    return PutInPlace({{info->GetT3IPath(), GetT3IText()}});
}

Result CArcTFDFormatSaver::WriteHTXFile(CArcTFDIntConnFilesInfo *info) {
    if (!CheckReady(info, __LINE__)) return Result::FormatConversionError;
    if (info->GetHTXPath().empty()) return Result::Success;
    std::string page = GetHTXText(info);
    if (const char *problem = WriteProblem()) return FormatNotWritten(problem);
    return PutInPlace({{info->GetHTXPath(), std::move(page)}});
}

const char *CArcTFDFormatSaver::WriteProblem() {
    if (m_bPageTooLarge) return "its page is larger than a page of its screen can be";
    return Layout().Problem();
}

size_t CArcTFDFormatSaver::PageSizeLimit(long long cells) {
    constexpr long long kScreen = 24 * 80, kScreenPage = 4LL << 20, kLeast = 64LL << 10;
    return static_cast<size_t>(std::max(kLeast, std::max(cells, 0LL) * kScreenPage / kScreen));
}

// --- the field file ------------------------------------------------------------

std::string CArcTFDFormatSaver::GetT3IText() {
    const std::vector<CArcTFDDataRecord> &records = Layout().GetRecords();
    if (records.empty()) return std::string();
    // The root says that the converter wrote the file (the gateway then
    // takes host values as on a page of one main record).
    std::string out = "<records converted=\"yes\">\n";
    for (const CArcTFDDataRecord &record : records) {
        out += "<record type=\"";
        out += record.type;
        out += "\">\n";
        for (const CArcTFDDataLine &line : record.lines) {
            const SafeString name =
                line.field ? CArcTFDDrawableFieldMeta::GetFieldNameCStyle(line.field, line.ordinal) : "filler";
            // A host edit mask is host bytes: escaped like the default text,
            // so no byte of it can end the attribute.
            out += "    <field name=\"" + name + "\" mask=\"" + Escaped(line.picture, false, true) + "\"";
            if (line.pad > 0) out += " pad=\"" + std::to_string(line.pad) + "\"";
            if (line.hidden > 0) out += " hidden=\"" + std::to_string(line.hidden) + "\"";
            const auto *data = dynamic_cast<const CArcTFDDataErrorField *>(line.field);
            // What decides whether the page shows the field as an input.
            if (data && (line.field->GetHtmlType() == CArcTFDDrawableField::HtmlLimited ||
                         line.field->GetHtmlType() == CArcTFDDrawableField::HtmlFull)) {
                out += " fccindex=\"" + std::to_string(data->GetIndex() - 1) + "\"";
                if (line.field->IsProtected()) out += " protected=\"yes\"";
            }
            if (data && !data->GetDefaultText().empty())
                out += " default=\"" + Escaped(data->GetDefaultText(), false, true) + "\"";
            out += "/>\n";
        }
        out += "</record>\n";
    }
    return out + "</records>\n";
}

// --- the page ---------------------------------------------------------------------

std::string CArcTFDFormatSaver::GetHTXText(CArcTFDIntConnFilesInfo *info) {
    if (!m_pFormat) return std::string();
    const CArcTFDFormatHdrPeeker *header = m_pFormat->GetFormatHdrPeeker();
    m_nPageLimit = m_nPageLimitSet ? m_nPageLimitSet : PageSizeLimit(header ? header->GetScreenCells() : 0);
    m_bPageTooLarge = false;
    // The body first: the head's DoXMIT needs the detail record length the
    // layout finds.
    std::string body;
    Line(body, 4, "</HEAD>");
    Line(body, 4, "<BODY onload=\"OnBodyLoad()\">");
    Line(body, 8,
         "<FORM NAME=\"\\{mcs.name}\" METHOD=\"POST\" ACTION=\"qoric?sid=\\{sid}&pib.transaction=\\{pib.transaction}"
         "&pib.locap=\\{pib.locap}&mcs.name=\\{mcs.name}&mcs.filler=\\{mcs.filler}\">");
    m_nDetailCount = 0;
    switch (m_pFormat->GetIntConnFileHTMLType()) {
    case LayoutTable: WriteHtmlFieldsTable3(body, info); break;
    case LayoutAbsolute: WriteHtmlFieldsAbsPos(body, info); break;
    case LayoutSimpleTable: WriteHtmlFieldsSimpleTable(body, info); break;
    default: break;
    }
    const std::string room = std::to_string(Layout().GetInputRoom());
    Line(body, 12, "<INPUT TYPE=HIDDEN NAME=\"McsStatus\" VALUE=\" \">");
    Line(body, 12, "<INPUT TYPE=HIDDEN NAME=\"McsSize\" VALUE=\"" + room + "\">");
    Line(body, 12, "<INPUT TYPE=HIDDEN NAME=\"McsCount\" VALUE=\"" + room + "\">");
    const size_t beforeAdditional = body.size();
    AppendAdditionalHtml(body);
    const size_t additional = body.size() - beforeAdditional;
    Line(body, 8, "</FORM>");
    body += '\n';
    Line(body, 4, "</BODY>");
    Line(body, 0, "</HTML>");

    std::string page;
    for (const HeadLine &l : kHead) {
        if (l.text)
            Line(page, l.text[0] ? l.indent : 0, l.text);
        else
            Line(page, l.indent, "formName.McsCount.value = nCount + (nRecord - 1) * " + std::to_string(m_nDetailCount) + ";");
    }
    SafeString title;
    for (const CArcTFDDrawableField *f : m_Sorted)
        if (f->GetHtmlType() == CArcTFDDrawableField::HtmlTitle) title = f->GetText();
    Line(page, 8, "<TITLE>" + Escaped(title) + "</TITLE>");
    if (m_pFormat->GetHtmlUseStyleSheet() && !m_pFormat->GetHtmlStyleSheetPath().empty()) {
        Line(page, 8, "<LINK REL=\"stylesheet\" HREF=\"" + Escaped(m_pFormat->GetHtmlStyleSheetPath()) +
                          "\" TYPE=\"text/css\">");
    } else {
        Line(page, 8, "<STYLE>");
        Line(page, 12, ".ERROR { color:#FF0000;font-style:italic; }");
        Line(page, 8, "</STYLE>");
    }
    if (page.size() + body.size() - additional > m_nPageLimit) m_bPageTooLarge = true;
    return page + body;
}

void CArcTFDFormatSaver::AppendAdditionalHtml(std::string &out) const {
    if (m_strAdditionalHtml.empty()) return;
    // Only a regular file is read: a FIFO put in its place would hold the
    // conversion (and the worker converting) for good.
    std::string why, text;
    UniqueFile in = OpenRegularFile(m_strAdditionalHtml, &why);
    if (in) {
        char chunk[8192];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in.get())) > 0;) text.append(chunk, n);
        if (std::ferror(in.get())) {
            why = std::strerror(errno);
            in.reset();
        }
    }
    if (!in) {
        // The page is written without it all the same; the warning comes
        // with every conversion, so an administrator sees it where it bites.
        logPrintf("#Converter: warning: additional HTML file %s cannot be read (%s); the page is written "
                  "without it\n",
                  m_strAdditionalHtml.c_str(), why.c_str());
        return;
    }
    // The page names the file without its folders: a browser has no
    // business learning where the server keeps it.
    const std::string path = m_strAdditionalHtml;
    const std::string name = path.substr(path.rfind('/') + 1);
    Line(out, 4, "<!-- Following is a contents of the file " + name + " -->");
    out += text;
    out += '\n';
    Line(out, 4, "<!-- End of a  contents of the file " + name + " -->");
}

int CArcTFDFormatSaver::CountFieldsWithHelp() const {
    if (!m_pFormat) return 0;
    int n = 0;
    for (int i = 0; i < m_pFormat->GetFieldCount(); ++i)
        if (!m_pFormat->GetFieldByIdx(i)->GetHelpId().empty()) ++n;
    return n;
}
