// CArcTFDFormatSaver: writes the two files of a converted screen, the field
// file (.t3i, records of the data fields with their pictures) and the page
// template (.htx: head and scripts, the form with one HTML piece per field
// laid out in a table per screen row, the hidden McsStatus, McsSize and
// McsCount fields, the additional HTML).
//
// Fields are written in screen order: by row, then column, then their
// order in the format, so two fields at one place are both written. The
// n-th field written is named field_NNN (n with at least three digits) in
// both files; fields that write nothing still use up their number.
//
// The saver keeps the counters the field writers read while a page is
// written (field number, data count, detail state, indent).
#ifndef QOR_ARCTFDFORMATSAVER_H
#define QOR_ARCTFDFORMATSAVER_H

#include <memory>
#include <string>
#include <vector>

#include "ArcTFDDrawableField.h"
#include "Result.h"
#include "SafeString.h"

class CBuffer;
class CArcTFDDataLayout;
class CArcTFDFormat;
class CArcTFDIntConnFilesInfo;

class CArcTFDFormatSaver {
public:
    // Page layouts (the format's int-conn-file HTML type).
    enum Layout_t : int { LayoutTable = 0, LayoutAbsolute = 1, LayoutSimpleTable = 2 };

    // The name is not used: the files info names the files.
    explicit CArcTFDFormatSaver(CArcTFDFormat *format, const char *name = nullptr);
    ~CArcTFDFormatSaver();
    CArcTFDFormatSaver(const CArcTFDFormatSaver &) = delete;
    CArcTFDFormatSaver &operator=(const CArcTFDFormatSaver &) = delete;

    void SetAdditionalHTMLFileName(const SafeString &name) { m_strAdditionalHtml = name; }
    const SafeString &GetAdditionalHTMLFileName() const { return m_strAdditionalHtml; }

    // Sorts the fields, then writes the .t3i and the .htx of the files info
    // (a file whose path is empty is not written). Both go to temporary
    // files beside their targets and are renamed into place, .t3i first.
    // FormatConversionError (logged, nothing new in place) when a file
    // cannot be written, or without a format or files info (an assertion
    // line).
    Result WriteIntConnFile(CArcTFDIntConnFilesInfo *info);
    // The format's fields in writing order; with copies the saver holds
    // clones of them, which it owns.
    void SortFields(int copies);
    // Each writes its one file whole or not at all (sorted fields as they
    // stand).
    Result WriteT3IFile(CArcTFDIntConnFilesInfo *info);
    Result WriteHTXFile(CArcTFDIntConnFilesInfo *info);

    // The texts of the two files.
    std::string GetT3IText();
    std::string GetHTXText(CArcTFDIntConnFilesInfo *info);

    // The largest page written for a screen of `cells` cells: 4 MiB for 24
    // x 80, in proportion for other screens, never less than 64 KiB (the
    // page's head and script); the additional HTML does not count. A
    // format whose page would be larger is not written: its fields stop
    // being written once the page passes the limit.
    static size_t PageSizeLimit(long long cells);
    // A lower limit than the screen's (0: the screen's).
    void SetPageSizeLimit(size_t bytes) { m_nPageLimitSet = bytes; }
    // Whether the last GetHTXText passed the limit.
    bool PageTooLarge() const { return m_bPageTooLarge; }

    // The field part of the page in each layout, then the function-key
    // table at the layout's indent.
    void WriteHtmlFieldsTable3(std::string &out, CArcTFDIntConnFilesInfo *info);
    void WriteHtmlFieldsAbsPos(std::string &out, CArcTFDIntConnFilesInfo *info);
    void WriteHtmlFieldsSimpleTable(std::string &out, CArcTFDIntConnFilesInfo *info);
    void WriteHTMLFKeyTable(std::string &out, CArcTFDIntConnFilesInfo *info, int indent);
    // The indent in blanks and text; a negative delta changes the indent
    // before the line, a positive one after it.
    void WriteIndentedHtml(std::string &out, const char *text, int delta);

    // Counters the field writers read.
    int GetFieldCount() const { return m_nFieldCount; }
    int GetHtmlIndent() const { return m_nIndent; }
    int GetHtmlDetail() const { return m_bDetail; }
    int GetHtmlDataCount() const { return m_nDataCount; }
    const SafeString &GetFieldHtmlStyle() const { return m_strFieldHtmlStyle; }
    void SetHtmlInputElementFlag(int on) { m_bInputElement = on; }
    int GetHtmlInputElementFlag() const { return m_bInputElement; }
    void SetFieldCount(int n) { m_nFieldCount = n; }
    void SetHtmlIndent(int n) { m_nIndent = n; }
    void SetHtmlDetail(int on) { m_bDetail = on; }
    void SetHtmlDataCount(int n) { m_nDataCount = n; }
    void SetFieldHtmlStyle(const SafeString &style) { m_strFieldHtmlStyle = style; }
    // Length of one detail record (0 without a detail block).
    int GetHtmlDetailCount() const { return m_nDetailCount; }

    // Fields whose help id is not empty.
    int CountFieldsWithHelp() const;
    // Writes the sorted fields as screen-format field descriptors (a .t3z
    // field area) and returns the bytes written; the format's header gets
    // the data, error, output and input counts.
    int SaveFieldsIntoBuffer(CBuffer &out);

    const std::vector<CArcTFDDrawableField *> &GetSortedFields() const { return m_Sorted; }

private:
    bool CheckReady(const CArcTFDIntConnFilesInfo *info, int line) const;
    const CArcTFDDataLayout &Layout();
    // Writes one field's HTML with the counters set for it.
    void WriteField(std::string &out, const CArcTFDDrawableField *field, int ordinal, int indent);
    void WriteDetailOpen(std::string &out, int indent);
    void WriteDetailClose(std::string &out, int indent);
    void AppendAdditionalHtml(std::string &out) const;
    // Why the files cannot be written as they are made, or null.
    const char *WriteProblem();
    // Table layout: one table per row group.
    void WriteRowGroup(std::string &out, size_t first, size_t end, int &ordinal, int width);

    CArcTFDFormat *m_pFormat;                     // not owned
    std::vector<CArcTFDDrawableField *> m_Sorted;
    std::vector<std::unique_ptr<CArcTFDDrawableField>> m_Clones;
    std::unique_ptr<CArcTFDDataLayout> m_pLayout;
    int m_nFieldCount = 0;
    SafeString m_strFieldHtmlStyle;
    int m_bInputElement = 0;
    int m_nIndent = 0;
    int m_nDataCount = 0;
    int m_nDataHeaderCount = 0;
    int m_nDetailCount = 0;
    int m_bDetail = 0;
    SafeString m_strAdditionalHtml;
    size_t m_nPageLimitSet = 0;
    size_t m_nPageLimit = 0;         // of the page being written
    bool m_bPageTooLarge = false;
};

#endif
