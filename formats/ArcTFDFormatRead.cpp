// Reading a screen format: header checks, the descriptor walk, the form
// field each host field becomes, the help block, colours and cursor end.
#include <algorithm>

#include "ArcMcsFieldWalk.h"
#include "ArcTFDDataField.h"
#include "ArcTFDFieldSweep.h"
#include "ArcTFDFormat.h"
#include "ArcTFDHeadingField.h"
#include "ArcTFDSecurityField.h"
#include "ZelBuffer.h"
#include "logprint.h"

namespace {

bool IsWhiteSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int HtmlTypeFor(FccModsLevel level, int current) {
    switch (level) {
    case FccModsNone: return CArcTFDDrawableField::HtmlNone;
    case FccModsLimited: return CArcTFDDrawableField::HtmlLimited;
    case FccModsFull: return CArcTFDDrawableField::HtmlFull;
    default: return current;
    }
}

}  // namespace

Result CArcTFDFormat::Fail(const char *why) const { return FormatNotRead(m_strFormatName, why); }

// '$', '#' and '@' are allowed (group names hold them); bytes above 0x7F
// are left to the file system.
const char *CArcTFDFormat::FileNameProblem(const std::string &name) {
    if (name.empty()) return "the format has no name";
    if (name[0] == '.') return "the format name starts with '.'";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\') return "the format name holds a path separator";
        if (u < 0x20 || u == 0x7F) return "the format name holds a control character";
    }
    return nullptr;
}

Result CArcTFDFormat::ReadFromBuffer(CBuffer &b) {
    // Nothing of an earlier read survives into this one.
    ClearFormat();
    m_pHeader.reset(new CArcTFDFormatHdrPeeker(this));
    m_pMeta.reset(new CArcTFDDrawableFieldMeta(this));
    m_strFormatName.clear();
    m_SFSErrIndData = SFSErrIndData_t();
    m_SFSNonDispIndData = SFSNonDispIndData_t();
    m_ReadState = SFSReadState();
    m_Help = CArcTFDHelp();
    m_ColorTable.Setup(nullptr);

    if (b.GetLength() < CArcMcsFormatHdr::kSize) return Fail("shorter than the 48-byte header");
    m_pHeader.reset(new CArcTFDFormatHdrPeeker(b, 0, this));
    const SafeString &name = m_pHeader->GetName();
    size_t cut = 0;
    while (cut < name.size() && !IsWhiteSpace(static_cast<unsigned char>(name[cut]))) ++cut;
    m_strFormatName = name.substr(0, cut);
    if (const char *problem = FileNameProblem(m_strFormatName)) return Fail(problem);

    CArcMcsFieldWalk walk(b, *m_pHeader);
    if (const char *problem = walk.AreaProblem()) return Fail(problem);
    while (!walk.AtEnd()) {
        std::unique_ptr<CArcMcsField> host = walk.Next();
        if (!host) {
            if (walk.UnknownKind()) logPrintf("%s Line %d Something asserted\n", "TFDFormat", 407);
            return Fail(walk.Fault());
        }
        if (FieldPtr field = CArcTFDDrawableField::CreateField(host.get(), this)) {
            field->SetHtmlType(HtmlTypeFor(m_nFccModsLevel, field->GetHtmlType()));
            m_Fields.push_back(std::move(field));
        }
    }

    if (CArcTFDHelp::FindBlock(b)) ReadHelpDataFromBuffer(b);
    for (const FieldPtr &f : m_Fields)
        if (!f->GetId().IsUndefined() && f->GetColor() == f->GetDefaultColor()) f->SetColor(CArcTFDColor());
    SetCursorEndPos(m_pHeader->GetCursorEndRow(), m_pHeader->GetCursorEndColumn());
    return Result::Success;
}

void CArcTFDFormat::ReadHelpDataFromBuffer(CBuffer &b) {
    // Called after the 'J'; the 39 further bytes of the head are there.
    const int count = m_Help.ReadHead(b);

    // Entries as far as the data holds whole ones; each id goes to the
    // field that covers the entry's place, in the order of the entries.
    // The places are looked up in screen order, so that many entries cost
    // no more than one pass over the fields.
    struct Entry {
        int row, column;
        SafeString id;
        CArcTFDDrawableField *field;
    };
    std::vector<Entry> entries;
    CArcTFDHelp::Entry read;
    for (int k = 0; k < count && CArcTFDHelp::ReadEntry(b, read); ++k)
        entries.push_back(Entry{read.row - 1, read.column - 1, read.id, nullptr});
    std::vector<Entry *> byPlace;
    for (Entry &e : entries) byPlace.push_back(&e);
    std::stable_sort(byPlace.begin(), byPlace.end(), [](const Entry *x, const Entry *y) {
        return x->row < y->row || (x->row == y->row && x->column < y->column);
    });
    CArcTFDFieldSweep sweep(m_Fields);
    for (Entry *e : byPlace) e->field = sweep.Cover(e->row, e->column);
    for (const Entry &e : entries)
        if (e.field) e.field->SetHelpId(e.id);
}

std::unique_ptr<CArcTFDDrawableField> CArcTFDDrawableField::CreateField(const CArcMcsField *host,
                                                                        CArcTFDFormat *format) {
    if (!host || !format) return nullptr;
    CArcTFDFormat::SFSReadState &state = format->GetSFSReadState();
    // The host field after the SFS error indicator is the host's error line.
    // Other kinds are dropped, but a data kind takes room in the screen
    // data, so it stays as a protected field and the field file stays in
    // step with the host data.
    const bool errorLine = state.skipNextField;
    state.skipNextField = false;
    if (errorLine) {
        if (!dynamic_cast<const CArcMcsDataField *>(host)) return nullptr;
    } else if (state.shouldClearMcsSFSFlag) {
        state.wasMcsSFSIndField = false;
        state.staticSFSIndData.clear();
    } else {
        state.shouldClearMcsSFSFlag = true;
    }

    using K = CArcMcsField;
    using D = CArcTFDDataErrorField;
    std::unique_ptr<CArcTFDDrawableField> field;
    const int kind = host->GetKind();
    switch (kind) {
    case K::DefineColours:
        if (CArcTFDColorTable *table = format->GetColorTable())
            table->Setup(static_cast<const CArcMcsDefineColoursField *>(host));
        return nullptr;
    case K::RpgSfsIndicator: {
        const auto &indicator = static_cast<const CArcMcsRpgSfsIndicatorField &>(*host);
        CArcTFDFormat::SFSErrIndData_t error = format->GetSFSErrIndData();
        if (error.IsDefined() && indicator.GetIndicatorNumber() == error.indicator) {
            if (error.errorRow < 0) {
                error.errorRow = host->GetRow() + 1;
                error.repeat = 0;
            } else {
                error.repeat = 1;
            }
            format->SetSFSErrIndData(error);
            state.skipNextField = true;
        } else {
            state.staticSFSIndData.emplace_back(indicator);
            state.wasMcsSFSIndField = true;
            state.shouldClearMcsSFSFlag = false;
        }
        return nullptr;
    }
    case K::OutputIndicator:
    case K::InputIndicator:
        return nullptr;
    case K::ErrorIndicator: {
        const SafeString &text = static_cast<const CArcMcsDefinitionField *>(host)->GetData();
        CArcTFDFormat::SFSErrIndData_t error = format->GetSFSErrIndData();
        if (!text.empty() && !error.IsDefined()) {
            error.indicator = static_cast<uint8_t>(text[0]);
            error.errorRow = -1;
            format->SetSFSErrIndData(error);
        }
        return nullptr;
    }
    case K::BidirectionalNonDisplay:
    case K::InputOnlyNonDisplay: {
        const SafeString &text = static_cast<const CArcMcsDefinitionField *>(host)->GetData();
        if (!text.empty()) {
            CArcTFDFormat::SFSNonDispIndData_t nonDisplay;
            nonDisplay.indicators = text;
            nonDisplay.bidirectional = kind == K::BidirectionalNonDisplay ? 1 : 0;
            format->SetSFSNonDispIndData(nonDisplay);
        }
        return nullptr;
    }
    case K::MonthDayYear:
    case K::DayMonthYear:
    case K::YearMonthDay:
    case K::HourMinute:
    case K::UserId:
    case K::TerminalId:
    case K::FormatName:
    case K::TransactionId: {
        using S = CArcTFDSpecialField;
        static const S::SpecialType_t kTypes[] = {S::YearMonthDay, S::MonthDayYear, S::HourMinute, S::UserId,
                                                  S::TerminalId,   S::FormatName,   S::TransactionId, S::DayMonthYear};
        field.reset(new S(static_cast<const CArcMcsHeadingTextField *>(host), format, kTypes[kind - K::YearMonthDay]));
        break;
    }
    case K::HeadingText:
    case K::RepeatCharacter:
    case K::HeadingSpaces:
        field.reset(new CArcTFDHeadingTextField(static_cast<const CArcMcsHeadingTextField *>(host), format));
        break;
    case K::AlphaOnly:
    case K::UpperLowerAlpha:
    case K::UpperCaseAlpha: {
        const D::Type_t type = kind == K::AlphaOnly ? D::AlphaOnly : kind == K::UpperLowerAlpha ? D::UpperLowerAlpha
                                                                                                  : D::UpperCaseAlpha;
        field.reset(new CArcTFDDataField(host, format, type, D::kNoColor,
                                         static_cast<const CArcMcsDataField *>(host)->GetDefaultData()));
        break;
    }
    case K::NumericZeroSuppressed:
        field.reset(new CArcTFDNumericField(host, format, SafeString(static_cast<unsigned>(host->GetLength()), 'Z')));
        break;
    case K::NumericEdited:
        field.reset(new CArcTFDNumericField(host, format, static_cast<const CArcMcsNumericEditedField *>(host)->GetMask()));
        break;
    case K::Numeric:
        field.reset(new CArcTFDNumericField(host, format, SafeString(static_cast<unsigned>(host->GetLength()), '9')));
        break;
    case K::ErrorField:
        field.reset(new CArcTFDErrorField(host, format, D::kNoColor));
        break;
    case K::LogicalFieldBegin:
        field.reset(new CArcTFDSecurityField(host, format));
        break;
    default:   // continued, new line, section duplicate, repeat spaces
        return nullptr;
    }
    if (errorLine) {
        field->SetProtected(true);
        return field;
    }
    if (state.wasMcsSFSIndField) {
        field->SetSFSIndData(state.staticSFSIndData);
        state.shouldClearMcsSFSFlag = true;
    }
    return field;
}
