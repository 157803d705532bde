// The field part of a page in its three layouts (a table per screen row,
// absolutely placed spans, one simple table) and the function-key table.
#include <algorithm>

#include "ArcTFDFieldMeta.h"
#include "ArcTFDFormat.h"
#include "ArcTFDFormatSaver.h"
#include "ArcTFDHtmlText.h"
#include "ArcTFDIntConnFilesInfo.h"

namespace {

using arc_html::Escaped;
using arc_html::Line;


bool Skipped(const CArcTFDDrawableField *f) {
    return f->GetHtmlType() == CArcTFDDrawableField::HtmlSkip2 || f->GetHtmlType() == CArcTFDDrawableField::HtmlSkip3;
}

bool CarriesData(const CArcTFDDrawableField *f) {
    const auto type = CArcTFDDrawableFieldMeta::GetType(f);
    return type == CArcTFDDrawableField::TypeData || type == CArcTFDDrawableField::TypeNumeric;
}

// part / whole in percent, rounded in integers: a remainder of exactly half
// rounds down (12.5 gives 12), the same on every machine.
int Percent(int part, int whole) {
    const long long scaled = 100LL * part;
    const long long q = scaled / whole, r = scaled % whole;
    return static_cast<int>(q + (2 * r > whole ? 1 : 0));
}


}  // namespace

void CArcTFDFormatSaver::WriteField(std::string &out, const CArcTFDDrawableField *field, int ordinal, int indent) {
    // A page past its limit is not written: the rest need not be made.
    if (m_nPageLimit && out.size() > m_nPageLimit) {
        m_bPageTooLarge = true;
        return;
    }
    m_nFieldCount = ordinal;
    if (CarriesData(field)) m_nDataCount += field->GetCobolLength();
    m_nIndent = indent;
    std::string html;
    field->WriteHtml(html, *this);
    out += html;
}

void CArcTFDFormatSaver::WriteDetailOpen(std::string &out, int indent) {
    Line(out, indent, "<TABLE WIDTH=\"100%\" CLASS=\"DETAIL_TABLE\">");
    Line(out, indent + 4, "<!--#begin-->");
    Line(out, indent + 8, "<TR>");
    Line(out, indent + 12, "<TD>");
    m_bDetail = 1;
    m_nDataHeaderCount = m_nDataCount;
}

void CArcTFDFormatSaver::WriteDetailClose(std::string &out, int indent) {
    m_bDetail = 0;
    Line(out, indent + 12, "</TD>");
    Line(out, indent + 8, "</TR>");
    Line(out, indent + 4, "<!--end-->");
    Line(out, indent, "</TABLE>");
    m_nDetailCount = m_nDataCount - m_nDataHeaderCount;
}

// --- table layout -------------------------------------------------------------

void CArcTFDFormatSaver::WriteHtmlFieldsTable3(std::string &out, CArcTFDIntConnFilesInfo *info) {
    if (m_Sorted.empty() || !m_pFormat) return;
    const int width = std::max(m_pFormat->GetScreenWidth(), 1);
    m_nDataHeaderCount = 0;
    m_nDetailCount = 0;
    m_nDataCount = 0;
    m_bDetail = 0;
    m_strFieldHtmlStyle.clear();
    int ordinal = 1;
    int previousRow = 0;
    for (size_t first = 0; first < m_Sorted.size() && !m_bPageTooLarge;) {
        // A group runs to the first written field on a later row.
        const int row = m_Sorted[first]->GetRow();
        size_t end = first + 1;
        while (end < m_Sorted.size() && (Skipped(m_Sorted[end]) || m_Sorted[end]->GetRow() <= row)) ++end;
        for (int r = previousRow + 1; r < row; ++r) Line(out, 16, "<BR>");
        previousRow = row;
        WriteRowGroup(out, first, end, ordinal, width);
        first = end;
    }
    WriteHTMLFKeyTable(out, info, 12);
}

void CArcTFDFormatSaver::WriteRowGroup(std::string &out, size_t first, size_t end, int &ordinal, int width) {
    Line(out, 12, "<TABLE>");
    size_t last = end;
    for (size_t i = first; i < end; ++i)
        if (!Skipped(m_Sorted[i])) last = i;

    int cursor = 0, sum = 0;
    for (size_t i = first; i < end; ++i) {
        const CArcTFDDrawableField *f = m_Sorted[i];
        if (Skipped(f)) continue;
        const int column = f->GetColumn(), length = f->GetLength();
        if (cursor < column) {
            const int gap = Percent(column - cursor, width);
            sum += gap;
            Line(out, 16, "<COL WIDTH=\"" + std::to_string(gap) + "%\">");
        }
        const int w = i == last ? std::max(100 - sum, 1) : Percent(length, width);
        sum += w;
        Line(out, 16, "<COL WIDTH=\"" + std::to_string(w) + "%\">");
        cursor = column + length;
    }

    cursor = 0;
    for (size_t i = first; i < end; ++i, ++ordinal) {
        const CArcTFDDrawableField *f = m_Sorted[i];
        if (Skipped(f)) continue;
        const int column = f->GetColumn(), length = f->GetLength();
        if (cursor < column) {
            std::string gap = "<TD>";
            for (int k = cursor; k < column; ++k) gap += "&nbsp;";
            Line(out, 16, gap + "</TD>");
        }
        Line(out, 16, "<TD>");
        if (!m_bDetail && f->GetBeginDetail()) WriteDetailOpen(out, 20);
        WriteField(out, f, ordinal, 36);
        if (m_bDetail && f->GetEndDetail()) WriteDetailClose(out, 16);
        Line(out, 16, "</TD>");
        cursor = column + length;
    }
    Line(out, 12, "</TABLE>");
}

// --- absolute layout ------------------------------------------------------------

void CArcTFDFormatSaver::WriteHtmlFieldsAbsPos(std::string &out, CArcTFDIntConnFilesInfo *info) {
    static const char kWait[] = "Wait_for_the_page_to_be_loaded...";
    Line(out, 12,
         "<DIV STYLE='font-family:monospace; font-size:0.9em; letter-spacing:0px; position:relative; top:10; "
         "left:10'>");
    Line(out, 16, std::string("<SPAN ID='invisible_char' STYLE='overflow:visible; width:1px'>") + kWait + "</SPAN>");
    std::string script;
    Line(script, 16, "// Trick to get width and height of font character in pixels.");
    Line(script, 16, "var CharCellWidth = (invisible_char.offsetWidth) / " + std::to_string(sizeof kWait - 1));
    Line(script, 16, "var CharCellHeight = (invisible_char.offsetHeight);");
    Line(script, 16, "// Now hide the invisible_char.");
    Line(script, 16, "invisible_char.style.visibility = 'hidden';");

    m_nDataCount = 0;
    m_nDataHeaderCount = 0;
    m_nDetailCount = 0;
    m_bDetail = 0;
    int row = 0;
    int ordinal = 1;
    for (size_t i = 0; i < m_Sorted.size(); ++i, ++ordinal) {
        const CArcTFDDrawableField *f = m_Sorted[i];
        if (Skipped(f)) continue;
        for (; row < f->GetRow(); ++row) Line(out, 12, "<!-- Next row -->");
        // Right after "<INPUT": it starts with a blank.
        m_strFieldHtmlStyle = " STYLE='font-family:monospace; font-size:0.9em'";
        m_bInputElement = 0;
        const std::string n = std::to_string(ordinal);
        Line(out, 16, "<SPAN ID='F" + n + "' STYLE='position:absolute;visibility:hidden'>");
        WriteField(out, f, ordinal, 20);
        Line(out, 16, "</SPAN>");
        const std::string c = std::to_string(f->GetColumn()), r = std::to_string(f->GetRow());
        if (m_bInputElement) {
            Line(script, 16, "F" + n + ".style.left = (CharCellWidth * " + c + " - 2).toString() + 'px';");
            Line(script, 16, "F" + n + ".style.top = ((CharCellHeight * " + r + " * 1.5) - 2).toString() + 'px';");
        } else {
            Line(script, 16, "F" + n + ".style.left = (CharCellWidth * " + c + ").toString() + 'px';");
            Line(script, 16, "F" + n + ".style.top = ((CharCellHeight * " + r + " * 1.5)).toString() + 'px';");
        }
        Line(script, 16, "F" + n + ".style.visibility = 'inherit';");
    }
    m_strFieldHtmlStyle.clear();
    Line(out, 16, "<SCRIPT LANGUAGE=javascript>");
    Line(out, 16, "<!--");
    out += script;
    Line(out, 16, "//-->");
    Line(out, 16, "</SCRIPT>");
    Line(out, 12, "</DIV>");
    Line(out, 12, "<DIV ID='FKeys' STYLE='position:absolute'>");
    Line(out, 12, "<BR><BR><HR><BR>");
    WriteHTMLFKeyTable(out, info, 16);
    Line(out, 12, "</DIV>");
    Line(out, 12, "<SCRIPT LANGUAGE=javascript>");
    Line(out, 12, "<!--");
    Line(out, 16, "FKeys.style.left = '30px';");
    Line(out, 16, "FKeys.style.top = (CharCellHeight * " + std::to_string(row + 1) + "* 1.5).toString() + 'px';");
    Line(out, 12, "//-->");
    Line(out, 12, "</SCRIPT>");
}

// --- simple table ------------------------------------------------------------------

void CArcTFDFormatSaver::WriteIndentedHtml(std::string &out, const char *text, int delta) {
    if (delta < 0) m_nIndent = std::max(m_nIndent + delta, 0);
    Line(out, m_nIndent, text ? text : "");
    if (delta > 0) m_nIndent += delta;
}

void CArcTFDFormatSaver::WriteHtmlFieldsSimpleTable(std::string &out, CArcTFDIntConnFilesInfo *info) {
    m_nIndent = 12;
    WriteIndentedHtml(out, "<TABLE>", 4);
    m_nDataCount = 0;
    m_nDataHeaderCount = 0;
    m_nDetailCount = 0;
    m_bDetail = 0;
    m_strFieldHtmlStyle.clear();
    bool rowOpen = false, keptWithPrevious = false;
    int ordinal = 1;
    for (size_t i = 0; i < m_Sorted.size(); ++i, ++ordinal) {
        const CArcTFDDrawableField *f = m_Sorted[i];
        if (Skipped(f)) continue;
        if (keptWithPrevious) {
            if (f->GetNewTableCell()) {
                WriteIndentedHtml(out, "</TD>", -4);
                WriteIndentedHtml(out, "<TD>", 4);
            }
        } else {
            WriteIndentedHtml(out, "<TR>", 4);
            WriteIndentedHtml(out, "<TD>", 4);
            rowOpen = true;
        }
        if (!m_bDetail && f->GetBeginDetail()) {
            WriteIndentedHtml(out, "<TABLE WIDTH=\"100%\" CLASS=\"DETAIL_TABLE\">", 4);
            WriteIndentedHtml(out, "<!--begin-->", 4);
            WriteIndentedHtml(out, "<TR>", 4);
            WriteIndentedHtml(out, "<TD>", 4);
            m_bDetail = 1;
            m_nDataHeaderCount = m_nDataCount;
        }
        WriteField(out, f, ordinal, m_nIndent);
        if (m_bDetail && f->GetEndDetail()) {
            m_bDetail = 0;
            WriteIndentedHtml(out, "</TD>", -4);
            WriteIndentedHtml(out, "</TR>", -4);
            WriteIndentedHtml(out, "<!--end-->", -4);
            WriteIndentedHtml(out, "</TABLE>", -4);
            m_nDetailCount = m_nDataCount - m_nDataHeaderCount;
        }
        keptWithPrevious = f->GetKeepWithNext();
        if (!keptWithPrevious) {
            WriteIndentedHtml(out, "</TD>", -4);
            WriteIndentedHtml(out, "</TR>", -4);
            rowOpen = false;
        }
    }
    if (rowOpen) {
        WriteIndentedHtml(out, "</TD>", -4);
        WriteIndentedHtml(out, "</TR>", -4);
    }
    WriteIndentedHtml(out, "<TR>", 4);
    WriteIndentedHtml(out, "<TD>", 4);
    WriteHTMLFKeyTable(out, info, m_nIndent);
    WriteIndentedHtml(out, "</TD>", -4);
    WriteIndentedHtml(out, "</TR>", -4);
    WriteIndentedHtml(out, "</TABLE>", -4);
}

// --- function keys ---------------------------------------------------------------

void CArcTFDFormatSaver::WriteHTMLFKeyTable(std::string &out, CArcTFDIntConnFilesInfo *info, int indent) {
    if (!info || info->GetFKeyMapSize() == 0) return;
    Line(out, indent, "<TABLE WIDTH=\"100%\" CLASS=\"FKEY_TABLE\">");
    Line(out, indent + 4, "<TR>");
    Line(out, indent + 8, "<TD>");
    for (auto pos = info->FKeyMapStartPos(); !info->FKeyMapIsPosAtEnd(pos); info->FKeyMapNextPos(pos)) {
        Line(out, indent + 12,
             "<INPUT CLASS=\"FKEY\" TYPE=BUTTON TITLE=\"" + Escaped(info->GetToolTipFromPos(pos)) + "\" VALUE=\"" +
                 Escaped(info->GetLabelFromPos(pos)) + "\" onClick=\"" +
                 info->GetFKeyStringForHTML(info->GetNameFromPos(pos)) + "\">");
    }
    Line(out, indent + 8, "</TD>");
    Line(out, indent + 4, "</TR>");
    Line(out, indent, "</TABLE>");
}
