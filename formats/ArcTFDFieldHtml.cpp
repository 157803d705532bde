// The HTML of each field of a converted page: a heading is a SPAN, a data
// field an INPUT, wrapped (limited and full field-control-modification
// support) in template conditions on the modifications the host sends with
// each screen.
//
// The conditions test mcs.fccmods[N].protected, .unprotected, .off, .blink
// and .mask.video, N being the field's host data ordinal - 1; the parser
// integrator defines them from the host's modification bytes (see
// IcParserIntegratorFccMods.cpp).
#include <string>

#include "ArcTFDDataField.h"
#include "ArcTFDFieldMeta.h"
#include "ArcTFDFormatSaver.h"
#include "ArcTFDHeadingField.h"
#include "ArcTFDHtmlText.h"

namespace {

using arc_html::Escaped;

std::string Attribute(const std::string &text) { return Escaped(text, true, true); }

const char *Flag(bool on) { return on ? "true" : "false"; }

}  // namespace

void CArcTFDDrawableField::GenerateHtmlTypeField(const SafeString &text, const SafeString &style, int length,
                                                 int dataCount, int detail, int indent, std::string &out,
                                                 bool hostText) const {
    out.clear();
    const bool dataField = dynamic_cast<const CArcTFDDataField *>(this) != nullptr;
    const std::string IND(static_cast<size_t>(indent > 0 ? indent : 0), ' ');
    const std::string NAME = Escaped(text, hostText, false);
    const std::string LEN = std::to_string(length);
    const std::string IDX = std::to_string(GetIndex() - 1);
    const std::string COUNT = std::to_string(dataCount);
    const std::string &STY = style;
    const SafeString cls = GetHtmlClass().empty() ? GetDefaultHtmlClass() : GetHtmlClass();
    const std::string CLS = cls.empty() ? std::string() : " CLASS=\"" + Attribute(cls) + "\"";
    const std::string HNAME = Attribute(GetHtmlName().empty() ? std::string(text) : std::string(GetHtmlName()));
    const std::string HDESC = GetHtmlDescription().empty() ? HNAME : Attribute(GetHtmlDescription());
    const std::string LABEL = GetHtmlAutolabel() ? "<SPAN CLASS=\"HEADING\">" + HDESC + "</SPAN>" : "";
    const std::string VALUE = "VALUE=\"\\{" + NAME + "}\"";

    // Key filters: upper case for upper-case and alpha-only fields,
    // letters only for alpha-only fields, digits for numeric fields.
    bool upper = false, alpha = false;
    if (const auto *data = dynamic_cast<const CArcTFDDataErrorField *>(this)) {
        upper = data->GetType() == CArcTFDDataErrorField::UpperCaseAlpha ||
                data->GetType() == CArcTFDDataErrorField::AlphaOnly;
        alpha = data->GetType() == CArcTFDDataErrorField::AlphaOnly;
    }
    const bool numeric = dynamic_cast<const CArcTFDNumericField *>(this) != nullptr;
    // The focus also selects the field's value (the page script's
    // SelectOnFocus), so that typing replaces a value shown full.
    const std::string FOCUS = std::string(" onfocus=\"javascript:EnableFilter(") + Flag(upper) + "," + Flag(alpha) +
                              "," + Flag(numeric) + ");SelectOnFocus(this)\" onblur=\"javascript:DisableFilter(this)\"";
    const std::string INPUT = "<INPUT" + STY + CLS + " TYPE=";
    const std::string SIZES = " NAME=\"" + NAME + "\" SIZE=" + LEN + " MAXLENGTH=" + LEN + " " + VALUE + ">";
    const std::string SPAN = "<SPAN" + CLS + ">";
    const std::string HIDDEN = "<INPUT" + STY + " TYPE=HIDDEN NAME=\"" + NAME + "\" " + VALUE + ">";
    const std::string OPEN = IsProtected()
                                 ? "<!--#if expr = \"mcs.fccmods[" + IDX + "].unprotected\"-->"
                                 : "<!--#if expr = \"(mcs.fccmods[" + IDX + "].protected eq 0) and (mcs.filler ne ' ')\"-->";
    const std::string plainSpan = IND + SPAN + NAME + "</SPAN>\n";

    switch (GetHtmlType()) {
    case HtmlNone:
        if (!dataField) {
            out = plainSpan;
            break;
        }
        out = IND + LABEL + INPUT + (GetPassword() ? "PASSWORD" : "TEXT") + FOCUS + SIZES + "\n";
        break;
    case HtmlLimited:
        if (!dataField) {
            out = plainSpan;
            break;
        }
        out = IND + LABEL + OPEN + "\n" +
              IND + "    " + INPUT + "TEXT" + FOCUS + SIZES + "\n" +
              IND + "<!--#else-->\n" +
              IND + "    " + SPAN + "\\{" + NAME + "}</SPAN>\n" +
              IND + "    " + HIDDEN + "\n" +
              IND + "<!--#endif-->\n\n";
        break;
    case HtmlFull: {
        if (!dataField) {
            out = plainSpan;
            break;
        }
        const std::string F = "mcs.fccmods[" + IDX + "]";
        const bool dark = GetColor().GetMcsColor() == 1;
        out = IND + LABEL + OPEN + "\n" +
              IND + "    <!--#if expr = \"" +
              (dark ? "(" + F + ".off) or (" + F + ".mask.video eq 0)" : F + ".off") + "\"-->\n" +
              IND + "        " + INPUT + "PASSWORD" + FOCUS + SIZES + "\n" +
              IND + "    <!--#else-->\n" +
              IND + "        " + INPUT + "TEXT" + FOCUS + SIZES + "\n" +
              IND + "    <!--#endif-->\n" +
              IND + "<!--#else-->\n" +
              IND + "    <!--#if expr = \"" +
              (dark ? "(" + F + ".off eq 0) and (" + F + ".mask.video)" : F + ".off eq 0") + "\"-->\n" +
              IND + "        " + SPAN + "\\{" + NAME + "}</SPAN>\n" +
              IND + "    <!--#endif-->\n" +
              IND + "    " + HIDDEN + "\n" +
              IND + "<!--#endif-->\n" +
              IND + "<!--#if expr = \"" + F + ".blink\"-->\n" +
              "    " + IND + SPAN + " *</SPAN>\n" +
              IND + "<!--#endif-->\n";
        break;
    }
    case HtmlTitle:
        out = IND + "<H1" + CLS + ">" + NAME + "</H1>\n";
        break;
    case HtmlShownHidden: {
        const std::string shown = GetPassword() ? std::string(static_cast<size_t>(length > 0 ? length : 0), '*')
                                                : "\\{" + NAME + "}";
        out = IND + LABEL + SPAN + shown + "</SPAN>" + HIDDEN;
        break;
    }
    case HtmlSelect:
        out = IND + LABEL + "<SELECT" + STY + CLS + " NAME=\"" + NAME + "\" SIZE=1>\n";
        for (const SafeString &entry : GetHtmlComboValues()) {
            // "text<TAB>value"; without a tab (or with the tab last) the
            // entry is both.
            const size_t tab = entry.find('\t');
            const bool split = tab != std::string::npos && tab + 1 < entry.size();
            const std::string shown = split ? entry.substr(0, tab) : std::string(entry);
            const std::string value = split ? entry.substr(tab + 1) : std::string(entry);
            out += IND + "    <OPTION VALUE=\"" + Attribute(value) + "\">" + Attribute(shown) + "\n";
        }
        out += IND + "</SELECT>";
        break;
    case HtmlRule:
        out = IND + "<HR" + CLS + ">\n";
        break;
    case HtmlHidden:
        out = IND + HIDDEN + "\n";
        break;
    case HtmlTransmit:
        // The page's DoXMIT takes the form first; inside a detail block the
        // record is the block's current row.
        out = IND + "<INPUT" + CLS + " TYPE=BUTTON VALUE=\"" + HNAME + "\" TITLE=\"" + HDESC +
              "\" onClick=\"DoXMIT(this.form, " + COUNT + ", " + (detail ? "\\{CurrentRecord}" : "0") + ")\">";
        break;
    default:   // 2, 3 and above 10: nothing
        break;
    }
}

void CArcTFDDrawableField::WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const {
    GenerateHtmlTypeField(GetText(), SafeString(), GetLength(), saver.GetHtmlDataCount(), saver.GetHtmlDetail(),
                          saver.GetHtmlIndent(), out);
}

void CArcTFDDataErrorField::WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const {
    if (GetType() == Error) {
        GenerateHtmlTypeField("\\{mcs.error}", SafeString(), 0, saver.GetHtmlDataCount(), saver.GetHtmlDetail(),
                              saver.GetHtmlIndent(), out, false);
        return;
    }
    GenerateHtmlTypeField(CArcTFDDrawableFieldMeta::GetFieldNameCStyle(this, saver.GetFieldCount()),
                          saver.GetFieldHtmlStyle(), GetLength(), saver.GetHtmlDataCount(), saver.GetHtmlDetail(),
                          saver.GetHtmlIndent(), out, false);
    saver.SetHtmlInputElementFlag(1);
}

SafeString CArcTFDHeadingTextField::GetDefaultHtmlClass() const {
    switch (GetHtmlType()) {
    case HtmlTitle: return "TITLE";
    case HtmlRule: return SafeString();
    case HtmlTransmit: return "XMIT";
    default: return "HEADING";
    }
}

const char *CArcTFDSpecialField::GetPlaceholder(int type) {
    switch (type) {
    case MonthDayYear:
    case DayMonthYear:
    case YearMonthDay: return "\\{pib.date}";
    case HourMinute: return "\\{pib.time}";
    case UserId: return "\\{pib.user}";
    case TerminalId: return "\\{mcs.terminal}";
    case FormatName: return "\\{mcs.name}";
    case TransactionId: return "\\{pib.transaction}";
    default: return "";
    }
}

void CArcTFDSpecialField::WriteHtml(std::string &out, CArcTFDFormatSaver &saver) const {
    GenerateHtmlTypeField(GetPlaceholder(GetSpecialType()), SafeString(), GetLength(), saver.GetHtmlDataCount(),
                          saver.GetHtmlDetail(), saver.GetHtmlIndent(), out, false);
}
