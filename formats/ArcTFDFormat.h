// CArcTFDFormat: one converted host screen. ReadFromBuffer fills it from
// the bytes of a screen format (header, field descriptors, help block); the
// page and field-file writers then walk its fields, which are in the order
// the descriptors produced them.
//
//   CArcTFDFormat format;
//   format.SetFccModsStyle(FccModsLimited);
//   if (format.ReadFromBuffer(bytes) != Result::Success) ...;   // logged
//   for (int i = 0; i < format.GetFieldCount(); ++i) {
//       const CArcTFDDrawableField *f = format.GetFieldByIdx(i);
//       ... f->GetRow(), f->GetColumn(), f->GetLength(),
//           CArcTFDDrawableFieldMeta::GetFieldPicAX9(f), data offsets ...
//   }
//
// A read keeps nothing of the read before it: fields, header, SFS
// indicator data, help data and colour table are all set afresh.
#ifndef QOR_ARCTFDFORMAT_H
#define QOR_ARCTFDFORMAT_H

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ArcMcsFieldWalk.h"
#include "ArcMcsFormatHdr.h"
#include "ArcTFDCollections.h"
#include "ArcTFDColorTable.h"
#include "ArcTFDDrawableField.h"
#include "ArcTFDFieldMeta.h"
#include "ArcTFDHelp.h"
#include "Result.h"
#include "SafeString.h"

class CBuffer;

// Field-control-modification support of the converted pages.
enum FccModsLevel : int32_t { FccModsNone = 0, FccModsLimited = 1, FccModsFull = 2 };

class CArcTFDFormat {
public:
    using Id_t = CArcCountId::Id_t;
    using FieldPtr = std::unique_ptr<CArcTFDDrawableField>;

    // Most descriptors one read follows (repeated lines and sections
    // included) before it gives the format up as looping.
    static constexpr int kMaxDescriptorSteps = CArcMcsFieldWalk::kMaxSteps;

    // The SFS error indicator: the indicator whose setting marks the host's
    // error line (0: none), the row of that line (-1 until met), and
    // whether it was met more than once.
    struct SFSErrIndData_t {
        uint8_t indicator = 0;
        int errorRow = -1;
        int repeat = 0;
        bool IsDefined() const { return indicator != 0; }
    };
    // The non-display indicators and whether they hide in both directions
    // (0: input only).
    struct SFSNonDispIndData_t {
        SafeString indicators;
        int bidirectional = 1;
        bool IsDefined() const { return !indicators.empty(); }
    };
    // What one host field hands on to the next while a format is read: a
    // field to drop after the SFS error indicator, and the RPG SFS
    // indicator settings collected for the next form field.
    struct SFSReadState {
        bool skipNextField = false;
        bool shouldClearMcsSFSFlag = true;
        bool wasMcsSFSIndField = false;
        VectorOfSFSIndData_t staticSFSIndData;
    };

    CArcTFDFormat();
    // Reads the buffer at once; a failed read leaves the format as
    // ReadFromBuffer does (use ReadFromBuffer to learn the result).
    explicit CArcTFDFormat(CBuffer &buffer);
    ~CArcTFDFormat();
    CArcTFDFormat(const CArcTFDFormat &) = delete;
    CArcTFDFormat &operator=(const CArcTFDFormat &) = delete;

    // Reads one screen format from the buffer's read offset. Success, or
    // FormatConversionError (reason logged) when the bytes are no sound
    // format: shorter than the header, a name that cannot name a file, a
    // field area past the end, an unknown or cut descriptor, a repeated
    // section starting before the field area, or a walk that loops.
    Result ReadFromBuffer(CBuffer &buffer);
    // Drops the fields, the header and the field meta object.
    void ClearFormat();

    // --- header and geometry (0-based) ----------------------------------
    CArcTFDFormatHdrPeeker *GetFormatHdrPeeker() const { return m_pHeader.get(); }
    // The header's name up to its first white space.
    const SafeString &GetFormatName() const { return m_strFormatName; }
    // A format's name names its page and field files, so it must be a
    // plain file name: why it is not (empty, starting with '.', holding a
    // path separator or a control character), or null.
    static const char *FileNameProblem(const std::string &name);
    int GetFormatLeft() const { return 0; }
    int GetFormatTop() const;
    int GetFormatRight() const;       // a header with 0 columns counts 1
    int GetFormatBottom() const;
    int GetScreenWidth() const { return GetFormatRight() + 1; }
    int GetScreenHeight() const { return GetFormatBottom() + 1; }

    // --- fields ------------------------------------------------------------
    int GetFieldCount() const { return static_cast<int>(m_Fields.size()); }
    CArcTFDDrawableField *GetFieldByIdx(int i) const;
    Id_t GetFieldIdByIdx(int i) const;
    CArcTFDDrawableField *GetField(Id_t id) const;
    int GetFieldIdx(Id_t id) const;
    Id_t GetFieldId(const CArcTFDDrawableField *field) const;
    bool IsMyField(const CArcTFDDrawableField *field) const;
    int GetFieldLength(Id_t id) const;
    int GetFieldRow(Id_t id) const;
    int GetFieldColumn(Id_t id) const;

    // By position. A field covers its row from its column to column +
    // length - 1. Next: the covering field, else the nearest field after
    // the place; Prev: the covering field, else the nearest one before it.
    // Among equal candidates the later field in the list wins.
    CArcTFDDrawableField *GetNextFieldFromPos(int row, int column) const;
    CArcTFDDrawableField *GetPrevFieldFromPos(int row, int column) const;
    CArcTFDDrawableField *GetFieldFromPos(int row, int column) const;
    Id_t GetNextFieldIdFromPos(int row, int column) const { return IdOf(GetNextFieldFromPos(row, column)); }
    Id_t GetPrevFieldIdFromPos(int row, int column) const { return IdOf(GetPrevFieldFromPos(row, column)); }
    Id_t GetFieldIdFromPos(int row, int column) const { return IdOf(GetFieldFromPos(row, column)); }
    Id_t GetFieldIdFromExactPos(int row, int column) const;
    CArcTFDDrawableField *GetNextUnprotectedFieldFromPos(int row, int column) const;
    // Top-most, then left-most place of an unprotected field (protected
    // data fields count too when the header says all data is unprotected);
    // (-1, -1) when there is none.
    std::pair<int, int> GetFirstUnprotectedPos() const;

    bool IsAllDataUnprotected() const;
    bool IsAllUnprotectedWithTab() const;
    // Sum of the COBOL lengths of the data fields (numeric ones included).
    int GetTotalLengthOfDataFields() const;
    std::set<int> GetSFSOutputInds() const;
    // Smallest rectangle holding every field; all -1 without fields.
    CRect GetCharCellBoundRect() const;

    // The cursor-end place (0-based): outside the geometry it becomes that
    // of the first unprotected field; the field covering it gets the offset
    // of the place within it, every other field -1.
    void SetCursorEndPos(int row, int column);

    // --- editing (not used by conversion) ---------------------------------
    // Appends the field (a new id when its id is taken) and owns it.
    CArcTFDDrawableField *InsertField(FieldPtr field);
    void InsertFields(std::vector<FieldPtr> fields);
    FieldPtr RemoveField(Id_t id);
    FieldPtr RemoveField(const CArcTFDDrawableField *field);
    FieldPtr RemoveFieldByIdx(int i);
    std::vector<FieldPtr> RemoveFields(const CArcTFD::SetOfIds_t &ids);
    std::vector<FieldPtr> RemoveFields(const CArcTFD::SetOfPointers_t &fields);
    void GetFieldsInRectangle(const CRect &rect, CArcTFD::SetOfPointers_t &out) const;
    CArcTFD::SetOfIds_t GetSetOfIdsFromSetOfPtrs(const CArcTFD::SetOfPointers_t &fields) const;
    CArcTFD::SetOfPointers_t GetSetOfPtrsFromSetOfIds(const CArcTFD::SetOfIds_t &ids) const;

    // --- SFS, help, colours, meta -----------------------------------------
    const SFSErrIndData_t &GetSFSErrIndData() const { return m_SFSErrIndData; }
    void SetSFSErrIndData(const SFSErrIndData_t &d) { m_SFSErrIndData = d; }
    const SFSNonDispIndData_t &GetSFSNonDispIndData() const { return m_SFSNonDispIndData; }
    void SetSFSNonDispIndData(const SFSNonDispIndData_t &d) { m_SFSNonDispIndData = d; }
    SFSReadState &GetSFSReadState() { return m_ReadState; }
    CArcTFDHelp &GetHelpData() { return m_Help; }
    const CArcTFDHelp &GetHelpDataConst() const { return m_Help; }
    int GetHelpPresent() const { return m_Help.GetHelpPresent(); }
    void SetHelpPresent(int on) { m_Help.SetHelpPresent(on); }
    // The colour table of a colour format; null for other formats.
    CArcTFDColorTable *GetColorTable();
    const CArcTFDColorTable *GetColorTable() const;
    CArcTFDDrawableFieldMeta *GetFieldMetaObject() const { return m_pMeta.get(); }

    // --- page options -------------------------------------------------------
    // Layout of the page: 0 table, 1 absolute positions, 2 simple table.
    int GetIntConnFileHTMLType() const { return m_nIntConnFileHTMLType; }
    void SetIntConnFileHTMLType(int type) { m_nIntConnFileHTMLType = type; }
    int GetHtmlUseStyleSheet() const { return m_bUseStyleSheet; }
    void SetHtmlUseStyleSheet(int on) { m_bUseStyleSheet = on; }
    const SafeString &GetHtmlStyleSheetPath() const { return m_strStyleSheetPath; }
    void SetHtmlStyleSheetPath(const SafeString &path) { m_strStyleSheetPath = path; }
    // The level decides each field's HTML type as the format is read:
    // none 0, limited 10, full 5.
    FccModsLevel GetFccModsStyle() const { return m_nFccModsLevel; }
    void SetFccModsStyle(FccModsLevel level) { m_nFccModsLevel = level; }

private:
    static Id_t IdOf(const CArcTFDDrawableField *f) { return f ? f->GetId() : Id_t(); }
    // The failure of a read: logs it and gives FormatConversionError.
    Result Fail(const char *why) const;
    void ReadHelpDataFromBuffer(CBuffer &buffer);
    FieldPtr TakeAt(size_t i);

    std::unique_ptr<CArcTFDFormatHdrPeeker> m_pHeader;
    std::vector<FieldPtr> m_Fields;
    SFSErrIndData_t m_SFSErrIndData;
    SFSNonDispIndData_t m_SFSNonDispIndData;
    SFSReadState m_ReadState;
    CArcTFDHelp m_Help;
    SafeString m_strFormatName;
    CArcTFDColorTable m_ColorTable;
    std::unique_ptr<CArcTFDDrawableFieldMeta> m_pMeta;
    int m_nIntConnFileHTMLType = 2;
    int m_bUseStyleSheet = 0;
    SafeString m_strStyleSheetPath;
    FccModsLevel m_nFccModsLevel = FccModsNone;
};

#endif
