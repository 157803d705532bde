// The converted format: geometry, field lookups, cursor end and editing.
#include "ArcTFDFormat.h"

#include <algorithm>

#include "ArcTFDDataField.h"
#include "ArcTFDFieldSweep.h"
#include "ZelBuffer.h"

namespace {

bool Covers(const CArcTFDDrawableField &f, int row, int column) {
    return f.GetRow() == row && column >= f.GetColumn() && column < f.GetColumn() + f.GetLength();
}

// (row, column) order of places.
bool Before(int r1, int c1, int r2, int c2) { return r1 < r2 || (r1 == r2 && c1 < c2); }

}  // namespace

CArcTFDFormat::CArcTFDFormat()
    : m_pHeader(new CArcTFDFormatHdrPeeker(this)), m_pMeta(new CArcTFDDrawableFieldMeta(this)) {}

CArcTFDFormat::CArcTFDFormat(CBuffer &buffer) : CArcTFDFormat() { ReadFromBuffer(buffer); }

CArcTFDFormat::~CArcTFDFormat() = default;

void CArcTFDFormat::ClearFormat() {
    m_Fields.clear();
    m_pHeader.reset();
    m_pMeta.reset();
}

int CArcTFDFormat::GetFormatTop() const {
    if (!m_pHeader) return 0;
    return m_pHeader->GetSFSEmulationFormat() ? 0 : m_pHeader->GetStartRow() - 1;
}

int CArcTFDFormat::GetFormatRight() const {
    if (!m_pHeader) return 0;
    return m_pHeader->GetSFSEmulationFormat() ? 79 : std::max(m_pHeader->GetColumns(), 1) - 1;
}

int CArcTFDFormat::GetFormatBottom() const {
    if (!m_pHeader) return 0;
    return m_pHeader->GetSFSEmulationFormat() ? 23 : m_pHeader->GetRows() + m_pHeader->GetStartRow() - 2;
}

// --- fields ----------------------------------------------------------------

CArcTFDDrawableField *CArcTFDFormat::GetFieldByIdx(int i) const {
    return i >= 0 && i < GetFieldCount() ? m_Fields[static_cast<size_t>(i)].get() : nullptr;
}

CArcTFDFormat::Id_t CArcTFDFormat::GetFieldIdByIdx(int i) const { return IdOf(GetFieldByIdx(i)); }

CArcTFDDrawableField *CArcTFDFormat::GetField(Id_t id) const { return GetFieldByIdx(GetFieldIdx(id)); }

int CArcTFDFormat::GetFieldIdx(Id_t id) const {
    for (size_t i = 0; i < m_Fields.size(); ++i)
        if (m_Fields[i]->GetId() == id) return static_cast<int>(i);
    return -1;
}

CArcTFDFormat::Id_t CArcTFDFormat::GetFieldId(const CArcTFDDrawableField *field) const {
    return IsMyField(field) ? field->GetId() : Id_t();
}

bool CArcTFDFormat::IsMyField(const CArcTFDDrawableField *field) const {
    return field && std::any_of(m_Fields.begin(), m_Fields.end(), [field](const FieldPtr &f) { return f.get() == field; });
}

int CArcTFDFormat::GetFieldLength(Id_t id) const {
    const CArcTFDDrawableField *f = GetField(id);
    return f ? f->GetLength() : -1;
}

int CArcTFDFormat::GetFieldRow(Id_t id) const {
    const CArcTFDDrawableField *f = GetField(id);
    return f ? f->GetRow() : -1;
}

int CArcTFDFormat::GetFieldColumn(Id_t id) const {
    const CArcTFDDrawableField *f = GetField(id);
    return f ? f->GetColumn() : -1;
}

// --- by position -------------------------------------------------------------

CArcTFDDrawableField *CArcTFDFormat::GetFieldFromPos(int row, int column) const {
    for (auto it = m_Fields.rbegin(); it != m_Fields.rend(); ++it)
        if (Covers(**it, row, column)) return it->get();
    return nullptr;
}

CArcTFDDrawableField *CArcTFDFormat::GetNextFieldFromPos(int row, int column) const {
    if (CArcTFDDrawableField *f = GetFieldFromPos(row, column)) return f;
    CArcTFDDrawableField *best = nullptr;
    for (auto it = m_Fields.rbegin(); it != m_Fields.rend(); ++it) {
        CArcTFDDrawableField *f = it->get();
        if (Before(f->GetRow(), f->GetColumn(), row, column)) continue;
        if (!best || Before(f->GetRow(), f->GetColumn(), best->GetRow(), best->GetColumn())) best = f;
    }
    return best;
}

CArcTFDDrawableField *CArcTFDFormat::GetPrevFieldFromPos(int row, int column) const {
    if (CArcTFDDrawableField *f = GetFieldFromPos(row, column)) return f;
    CArcTFDDrawableField *best = nullptr;
    for (auto it = m_Fields.rbegin(); it != m_Fields.rend(); ++it) {
        CArcTFDDrawableField *f = it->get();
        if (Before(row, column, f->GetRow(), f->GetColumn())) continue;
        if (!best || Before(best->GetRow(), best->GetColumn(), f->GetRow(), f->GetColumn())) best = f;
    }
    return best;
}

CArcTFDFormat::Id_t CArcTFDFormat::GetFieldIdFromExactPos(int row, int column) const {
    for (auto it = m_Fields.rbegin(); it != m_Fields.rend(); ++it)
        if ((*it)->GetRow() == row && (*it)->GetColumn() == column) return (*it)->GetId();
    return Id_t();
}

CArcTFDDrawableField *CArcTFDFormat::GetNextUnprotectedFieldFromPos(int row, int column) const {
    // Steps over protected fields to the place after each; the places only
    // move forward, so one sweep answers every step.
    CArcTFDFieldSweep sweep(m_Fields);
    for (;;) {
        CArcTFDDrawableField *f = sweep.Cover(row, column);
        if (!f) f = sweep.NearestFrom(row, column);
        if (!f || !f->IsProtected()) return f;
        row = f->GetRow();
        column = f->GetColumn() + std::max(f->GetLength(), 1);
    }
}

std::pair<int, int> CArcTFDFormat::GetFirstUnprotectedPos() const {
    const bool allData = m_pHeader && m_pHeader->GetAllDataUnprotected();
    std::pair<int, int> best(-1, -1);
    for (const FieldPtr &f : m_Fields) {
        const bool counts = !f->IsProtected() || (allData && dynamic_cast<const CArcTFDDataField *>(f.get()));
        if (!counts) continue;
        if (best.first < 0 || Before(f->GetRow(), f->GetColumn(), best.first, best.second))
            best = {f->GetRow(), f->GetColumn()};
    }
    return best;
}

bool CArcTFDFormat::IsAllDataUnprotected() const {
    return std::none_of(m_Fields.begin(), m_Fields.end(), [](const FieldPtr &f) {
        return f->IsProtected() && dynamic_cast<const CArcTFDDataField *>(f.get());
    });
}

bool CArcTFDFormat::IsAllUnprotectedWithTab() const {
    return std::none_of(m_Fields.begin(), m_Fields.end(),
                        [](const FieldPtr &f) { return !f->IsProtected() && !f->IsTabStop(); });
}

int CArcTFDFormat::GetTotalLengthOfDataFields() const {
    int total = 0;
    for (const FieldPtr &f : m_Fields)
        if (dynamic_cast<const CArcTFDDataField *>(f.get())) total += f->GetCobolLength();
    return total;
}

std::set<int> CArcTFDFormat::GetSFSOutputInds() const {
    std::set<int> out;
    for (const FieldPtr &f : m_Fields)
        for (const CArcTFDSFSIndicatorData &d : f->GetSFSIndData()) out.insert(d.GetIndicator());
    return out;
}

CRect CArcTFDFormat::GetCharCellBoundRect() const {
    if (m_Fields.empty()) return CRect{-1, -1, -1, -1};
    CRect r{m_Fields[0]->GetColumn(), m_Fields[0]->GetRow(), m_Fields[0]->GetColumn(), m_Fields[0]->GetRow()};
    for (const FieldPtr &f : m_Fields) {
        r.left = std::min(r.left, f->GetColumn());
        r.top = std::min(r.top, f->GetRow());
        r.right = std::max(r.right, f->GetColumn() + std::max(f->GetLength(), 1) - 1);
        r.bottom = std::max(r.bottom, f->GetRow());
    }
    return r;
}

void CArcTFDFormat::SetCursorEndPos(int row, int column) {
    if (row < GetFormatTop() || row > GetFormatBottom() || column < GetFormatLeft() || column > GetFormatRight())
        row = column = -1;
    if (m_pHeader) {
        m_pHeader->SetCursorEndRow(row);
        m_pHeader->SetCursorEndColumn(column);
        row = m_pHeader->GetCursorEndRow();
        column = m_pHeader->GetCursorEndColumn();
    }
    for (const FieldPtr &f : m_Fields) f->SetCursorEndPosOffset(-1);
    if (CArcTFDDrawableField *f = GetFieldFromPos(row, column)) f->SetCursorEndPosOffset(column - f->GetColumn());
}

// --- editing ---------------------------------------------------------------

CArcTFDDrawableField *CArcTFDFormat::InsertField(FieldPtr field) {
    if (!field) return nullptr;
    if (field->GetId().IsUndefined() || GetField(field->GetId())) field->GenerateNewId();
    field->SetFormat(this);
    m_Fields.push_back(std::move(field));
    if (m_pHeader) SetCursorEndPos(m_pHeader->GetCursorEndRow(), m_pHeader->GetCursorEndColumn());
    return m_Fields.back().get();
}

void CArcTFDFormat::InsertFields(std::vector<FieldPtr> fields) {
    for (FieldPtr &f : fields) InsertField(std::move(f));
}

CArcTFDFormat::FieldPtr CArcTFDFormat::TakeAt(size_t i) {
    FieldPtr f = std::move(m_Fields[i]);
    m_Fields.erase(m_Fields.begin() + static_cast<std::ptrdiff_t>(i));
    return f;
}

CArcTFDFormat::FieldPtr CArcTFDFormat::RemoveField(Id_t id) {
    const int i = GetFieldIdx(id);
    return i < 0 ? nullptr : TakeAt(static_cast<size_t>(i));
}

CArcTFDFormat::FieldPtr CArcTFDFormat::RemoveField(const CArcTFDDrawableField *field) {
    for (size_t i = 0; i < m_Fields.size(); ++i)
        if (m_Fields[i].get() == field) return TakeAt(i);
    return nullptr;
}

CArcTFDFormat::FieldPtr CArcTFDFormat::RemoveFieldByIdx(int i) {
    return i >= 0 && i < GetFieldCount() ? TakeAt(static_cast<size_t>(i)) : nullptr;
}

std::vector<CArcTFDFormat::FieldPtr> CArcTFDFormat::RemoveFields(const CArcTFD::SetOfIds_t &ids) {
    std::vector<FieldPtr> out;
    for (Id_t id : ids)
        if (FieldPtr f = RemoveField(id)) out.push_back(std::move(f));
    return out;
}

std::vector<CArcTFDFormat::FieldPtr> CArcTFDFormat::RemoveFields(const CArcTFD::SetOfPointers_t &fields) {
    std::vector<FieldPtr> out;
    for (const CArcTFDDrawableField *p : fields)
        if (FieldPtr f = RemoveField(p)) out.push_back(std::move(f));
    return out;
}

void CArcTFDFormat::GetFieldsInRectangle(const CRect &rect, CArcTFD::SetOfPointers_t &out) const {
    for (const FieldPtr &f : m_Fields) {
        const int last = f->GetColumn() + f->GetLength() - 1;
        if (f->GetRow() >= rect.top && f->GetRow() <= rect.bottom && f->GetColumn() <= rect.right && last >= rect.left)
            out.Insert(f.get());
    }
}

CArcTFD::SetOfIds_t CArcTFDFormat::GetSetOfIdsFromSetOfPtrs(const CArcTFD::SetOfPointers_t &fields) const {
    CArcTFD::SetOfIds_t ids;
    for (const CArcTFDDrawableField *f : fields)
        if (f) ids.Insert(f->GetId());
    return ids;
}

CArcTFD::SetOfPointers_t CArcTFDFormat::GetSetOfPtrsFromSetOfIds(const CArcTFD::SetOfIds_t &ids) const {
    CArcTFD::SetOfPointers_t fields;
    for (Id_t id : ids)
        if (CArcTFDDrawableField *f = GetField(id)) fields.Insert(f);
    return fields;
}

CArcTFDColorTable *CArcTFDFormat::GetColorTable() {
    return m_pHeader && m_pHeader->GetColorFormat() ? &m_ColorTable : nullptr;
}

const CArcTFDColorTable *CArcTFDFormat::GetColorTable() const {
    return m_pHeader && m_pHeader->GetColorFormat() ? &m_ColorTable : nullptr;
}
