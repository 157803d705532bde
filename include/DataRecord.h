// Data records: the layout of a host record (an MCS header, a screen's
// data, any COBOL-style record) as named items at fixed offsets, each made
// from a COBOL PICTURE string. The values live in the caller's CBuffer;
// a record only knows where each item lies and how its stored bytes turn
// into text and back.
//
// Items form a tree: a group ("OCCURS n") holds its members, whose offsets
// are relative to the group. A group's index (1-based) selects the
// occurrence that its members' reads and writes address. Every offset is
// counted from the buffer's read offset.
//
// Item kinds and their type codes:
//   CAnyItem 'X'      text, left-aligned, blank-padded       PICTURE X
//   CUpperItem 'U'    text in upper case                     PICTURE U
//   CAlphaItem 'A'    letters only, upper case               PICTURE A
//   CNumericItem '9'  unsigned digits, right-aligned, zeros  PICTURE 9, Z, 2
//   CEditedItem 'E'   digit positions only; read through the edit mask
//                                                   PICTURE S, $, , . / :
//   CBinaryItem 'B'   unsigned big-endian binary of 1, 2 or 4 bytes
//   CGroupItem 'G'    the bytes of its members, with an index
//
// Failures: a rejected picture or group adds nothing and returns 0 with a
// log line; an unknown name or a binary item of another size throws
// CZelDataException (by value; catch it by const reference).
#ifndef QOR_DATARECORD_H
#define QOR_DATARECORD_H

#include <cstdint>
#include <locale>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class CBuffer;

class CZelDataException : public std::runtime_error {
public:
    enum _ExceptionErrorCode {
        BadBinarySize = 2,     // a binary item that is not 1, 2 or 4 bytes
        ItemNotFound = 3,      // no item of that name
    };
    CZelDataException(_ExceptionErrorCode code, const std::string &text);
    _ExceptionErrorCode GetErrorCode() const { return m_nCode; }
    const std::string &GetText() const { return m_strText; }   // item name

private:
    _ExceptionErrorCode m_nCode;
    std::string m_strText;
};

class CDataItem {
public:
    enum : int {
        TypeAny = 'X', TypeUpper = 'U', TypeAlpha = 'A', TypeNumeric = '9',
        TypeEdited = 'E', TypeBinary = 'B', TypeGroup = 'G',
    };
    // No item, group or record is larger than this, and nothing is ever
    // written beyond it (the MCS size is 16-bit; 1 MiB leaves ample room).
    static constexpr unsigned kMaxExtent = 1u << 20;

    CDataItem(const std::string &name, int type, unsigned offset, unsigned length);
    virtual ~CDataItem();
    CDataItem(const CDataItem &) = delete;
    CDataItem &operator=(const CDataItem &) = delete;

    virtual unsigned GetMaxOccurence() const { return m_nMaxOccurence; }
    virtual unsigned GetMaxDefaultOccurence() const { return m_nMaxDefaultOccurence; }
    // Only groups have an index; other items keep 1 and answer false.
    virtual bool SetIndex(unsigned index);
    virtual unsigned GetIndex() const { return 1; }
    virtual void SetMaxOccurence(unsigned n);   // 0 is refused

    // Writes the value at the item's place, growing the buffer (zero
    // bytes) when it is too short. The base writes text: left-aligned,
    // blank-padded, cut at the length.
    virtual void SetValue(CBuffer &buffer, const std::string &value) const;
    // The number zero-padded to the length, written as text (cut at the
    // length, so a wider number keeps its high digits).
    virtual void SetValue(CBuffer &buffer, unsigned value) const;
    // Reads the item as text; the base reads up to a NUL, blank-padded,
    // or the default when the item's first byte is NUL or lies outside.
    virtual void GetData(std::string &out, const CBuffer &buffer) const;
    // The default cut to the length and blank-padded to it.
    virtual void GetDefault(std::string &out) const;

    const std::string &GetName() const { return m_strName; }
    int GetType() const { return m_nType; }
    bool IsTypeOf(int type) const { return m_nType == type; }
    unsigned GetSize() const { return m_nLength; }
    unsigned GetOffset() const { return m_nOffset; }     // within the parent
    // Offset from the buffer start, with every enclosing group's index.
    uint64_t CalculateTotalOffset() const;
    void SetDefault(const char *value);                  // null clears
    const std::string &GetDefaultValue() const { return m_strDefault; }

    CDataItem *GetParent() const { return m_pParent; }
    CDataItem *GetNext() const { return m_pNext; }
    int GetSubitemCount() const;
    CDataItem *GetSubitem(int i) const;                  // null when none

protected:
    // Copies exactly the length in bytes (bytes is cut or blank-padded).
    void WriteRaw(CBuffer &buffer, const std::string &bytes) const;
    // The text read of GetData, shared by the text-like kinds.
    void ReadText(std::string &out, const CBuffer &buffer) const;
    // Up to the length in bytes at the item's place (fewer at the end).
    std::string ReadRaw(const CBuffer &buffer) const;

    char DecimalPoint() const;
    char ThousandsSeparator() const;   // 0 when the locale has none
    char CurrencyChar() const;         // '$' when the locale has none

    std::string m_strName;             // lower case
    int m_nType;
    unsigned m_nOffset;
    unsigned m_nLength;
    unsigned m_nMaxOccurence = 1;
    unsigned m_nMaxDefaultOccurence = 1;
    std::string m_strDefault;
    std::locale m_locale;              // character classes, decimal point

private:
    friend class CDataRecord;
    CDataItem *m_pParent = nullptr;    // the tree's links; the record owns
    CDataItem *m_pNext = nullptr;      // every item
    CDataItem *m_pChild = nullptr;
};

class CTextItem : public CDataItem {
public:
    using CDataItem::CDataItem;
};

class CAnyItem : public CTextItem {
public:
    CAnyItem(const std::string &name, unsigned offset, unsigned length)
        : CTextItem(name, TypeAny, offset, length) {}
};

class CUpperItem : public CTextItem {
public:
    CUpperItem(const std::string &name, unsigned offset, unsigned length)
        : CTextItem(name, TypeUpper, offset, length) {}
    using CDataItem::SetValue;
    void SetValue(CBuffer &buffer, const std::string &value) const override;

protected:
    CUpperItem(const std::string &name, int type, unsigned offset, unsigned length)
        : CTextItem(name, type, offset, length) {}
};

class CAlphaItem : public CUpperItem {
public:
    CAlphaItem(const std::string &name, unsigned offset, unsigned length)
        : CUpperItem(name, TypeAlpha, offset, length) {}
    using CDataItem::SetValue;
    void SetValue(CBuffer &buffer, const std::string &value) const override;
};

class CNumericItem : public CDataItem {
public:
    CNumericItem(const std::string &name, unsigned offset, unsigned length)
        : CDataItem(name, TypeNumeric, offset, length) {}
    using CDataItem::SetValue;
    // The value's digits shifted in from the right; other characters are
    // ignored and the last `length` digits kept.
    void SetValue(CBuffer &buffer, const std::string &value) const override;
    // The digits zero-padded to the length; a sign overpunch on the last
    // character becomes its digit, so the sign is dropped.
    void GetData(std::string &out, const CBuffer &buffer) const override;

    // The digit of an overpunched character: '{' '}' give '0', "A".."I"
    // and "J".."R" give '1'..'9', anything else its low four bits.
    static char ConvertToCobolPositive(char c);

protected:
    CNumericItem(const std::string &name, int type, unsigned offset, unsigned length)
        : CDataItem(name, type, offset, length) {}
};

class CEditedItem : public CNumericItem {
public:
    CEditedItem(const std::string &name, unsigned offset, unsigned length,
                bool sign, bool currency, const std::string &mask)
        : CNumericItem(name, TypeEdited, offset, length),
          m_bSign(sign), m_bCurrency(currency), m_strMask(mask) {}
    using CDataItem::SetValue;
    // Stores only the digit positions of the mask: integer digits
    // right-aligned, decimals from the left; a negative value of a signed
    // item keeps its sign as 0x40 + digit in the last position.
    void SetValue(CBuffer &buffer, const std::string &value) const override;
    // Lays the stored digits into the edit mask (zero suppression,
    // separators, sign, currency) and drops the leading blanks.
    void GetData(std::string &out, const CBuffer &buffer) const override;

    bool HasSign() const { return m_bSign; }
    bool HasCurrency() const { return m_bCurrency; }
    const std::string &GetMask() const { return m_strMask; }

private:
    bool m_bSign;
    bool m_bCurrency;
    std::string m_strMask;
};

class CBinaryItem : public CDataItem {
public:
    CBinaryItem(const std::string &name, unsigned offset, unsigned length)
        : CDataItem(name, TypeBinary, offset, length) {}
    // Decimal text (strtoul) or a number, stored big-endian (one byte as
    // it is); above 0xFFFFFFFF is kept at 0xFFFFFFFF.
    void SetValue(CBuffer &buffer, const std::string &value) const override;
    void SetValue(CBuffer &buffer, unsigned value) const override;
    // The stored number in decimal.
    void GetData(std::string &out, const CBuffer &buffer) const override;
};

class CGroupItem : public CDataItem {
public:
    CGroupItem(const std::string &name, unsigned offset, unsigned occurs)
        : CDataItem(name, TypeGroup, offset, 0) {
        m_nMaxOccurence = occurs;
    }
    // 1 .. maximum occurrence; anything else is refused (logged, false).
    bool SetIndex(unsigned index) override;
    unsigned GetIndex() const override { return m_nIndex; }
    // Occurrences that hold data: trailing blanks, control characters and
    // bytes from 0x80 up do not count.
    unsigned GetCount(const CBuffer *buffer) const;

private:
    unsigned m_nIndex = 1;
};

class CDataRecord {
public:
    static constexpr unsigned kMaxRecordSize = CDataItem::kMaxExtent;

    CDataRecord();
    virtual ~CDataRecord();
    CDataRecord(const CDataRecord &) = delete;
    CDataRecord &operator=(const CDataRecord &) = delete;
    CDataRecord(CDataRecord &&) = default;
    CDataRecord &operator=(CDataRecord &&) = default;

    // Empties the record and describes the 20-byte MCS header: mcs.name
    // X(8), mcs.terminal X(4), mcs.function X, mcs.hold X, mcs.size
    // binary 2, mcs.status X, mcs.filler X, mcs.count binary 2.
    void InitializeRecord();

    // An item of a PICTURE at the current offset; 1, or 0 when the picture
    // (or the record size it would give) is rejected.
    int AddItem(const char *name, const char *picture, const char *defaultValue = nullptr);
    // A binary item of size bytes; 0 when the size is below 1 or too big.
    int AddItem(const char *name, int size);
    // Opens a group of `occurs` occurrences (0 when occurs < 1); its
    // members follow until EndGroup, which returns 0 when none is open.
    // A group that would pass the record size keeps the occurrences that
    // fit (logged).
    int BeginGroup(const char *name, int occurs);
    int EndGroup();

    // By name, compared in lower case; type 0 takes any kind.
    CDataItem *FindItem(std::string name, int type = 0) const;

    // Writes through the named item; an unknown name throws ItemNotFound.
    void SetValue(CBuffer *buffer, const std::string &name, const std::string &value);
    void SetValue(CBuffer *buffer, const std::string &name, unsigned value);
    void SetValue(CBuffer *buffer, const char *name, unsigned value);

    // Reads the named item: its data when its offset lies inside the
    // buffer, else its default; trim drops trailing blanks; isText is set
    // to 0 for numbers (numeric items and the group words) and 1 for all
    // else. "group.index", "group.max" and "group.count" give the group's
    // index, maximum occurrence and used occurrences. Anything else throws
    // ItemNotFound.
    void GetStringValue(std::string &out, const CBuffer *buffer, const std::string &name,
                        int trim = 0, int *isText = nullptr) const;

    // The index (1-based) of a group. Set: 1, or 0 for no such group or an
    // index outside 1..maximum occurrence (the index stays). Get: 0 for no
    // such group.
    int SetGroupIndex(unsigned index, std::string group);
    unsigned GetGroupIndex(std::string group) const;

    // The running size less the start of the innermost open group.
    unsigned GetGroupOffset() const;
    unsigned GetSize() const { return m_nSize; }   // bytes described so far
    CDataItem *GetRoot() const { return m_pRoot; }

    // Deletes every item and forgets the groups; the size becomes 0.
    void Empty();

private:
    struct OpenGroup {
        CGroupItem *group;
        unsigned start;     // the running size when the group began
    };

    // Links an item into the tree and the name map (a name already there
    // keeps its first item) and takes ownership.
    int AddItem(std::unique_ptr<CDataItem> item);
    CGroupItem *FindGroup(std::string name) const;

    unsigned m_nSize = 0;
    std::vector<std::unique_ptr<CDataItem>> m_items;
    std::map<std::string, CDataItem *> m_mapItems;
    CDataItem *m_pRoot = nullptr;
    CDataItem *m_pLast = nullptr;
    std::vector<OpenGroup> m_openGroups;
};

#endif
