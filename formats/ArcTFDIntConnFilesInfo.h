// CArcTFDIntConnFilesInfo: the output files of one conversion (the field
// file .t3i and the page .htx) and the function keys from which a table of
// buttons can be added to the page.
//
// Key names: "Transmit" (index -1) submits the form, "MsgWait" is index 0,
// "F" and a number n is function key n (the page script's DoFKEY).
// The converter leaves the key map empty, so converted pages carry no
// button table; the map is for pages built by other means.
#ifndef QOR_ARCTFDINTCONNFILESINFO_H
#define QOR_ARCTFDINTCONNFILESINFO_H

#include <cstddef>
#include <memory>
#include <vector>

#include "SafeString.h"

extern const char g_TransmitName[];   // "Transmit"
extern const char g_MsgWaitName[];    // "MsgWait"

class CArcTFDIntConnFilesInfo {
public:
    struct FKey_t {
        SafeString label;     // the button's text
        SafeString toolTip;
        SafeString name;      // selects the action
    };
    using FKeyMap_t = std::vector<std::unique_ptr<FKey_t>>;
    using FKeyMapPos_t = size_t;

    CArcTFDIntConnFilesInfo() = default;
    CArcTFDIntConnFilesInfo(const CArcTFDIntConnFilesInfo &) = delete;
    CArcTFDIntConnFilesInfo &operator=(const CArcTFDIntConnFilesInfo &) = delete;
    virtual ~CArcTFDIntConnFilesInfo() = default;

    // Full paths; an empty path means that file is not written.
    void SetT3IPath(const SafeString &path) { m_strT3IPath = path; }
    void SetHTXPath(const SafeString &path) { m_strHTXPath = path; }
    const SafeString &GetT3IPath() const { return m_strT3IPath; }
    const SafeString &GetHTXPath() const { return m_strHTXPath; }
    // "/cache/order01.t3i" gives "order01"; GetT3INameExt "order01.t3i"
    // (after the last "/" or "\", empty when that is the last character).
    SafeString GetT3IName() const;
    SafeString GetT3INameExt() const;

    // "Transmit" (any case) -1, "MsgWait" 0, else the number from the
    // second character on ("F12" 12; no digits 0); empty -1.
    static int GetFKeyIdxFromName(const char *name);
    // -1 "Transmit", 0 "MsgWait", else "F" and n.
    static SafeString GetFKeyNameFromIdx(int index);
    // The button's onClick action: the transmit key submits the button's
    // form, the others call DoFKEY on it with their index.
    SafeString GetFKeyStringForHTML(const SafeString &name) const;

    size_t GetFKeyMapSize() const { return m_FKeys.size(); }
    const FKey_t *GetFKey(unsigned index) const;     // null past the end
    const FKey_t *GetFKey(const char *name) const;   // first of that name
    FKeyMapPos_t FKeyMapStartPos() const { return 0; }
    bool FKeyMapIsPosAtEnd(FKeyMapPos_t pos) const { return pos >= m_FKeys.size(); }
    // Moves on; true when the end is reached.
    bool FKeyMapNextPos(FKeyMapPos_t &pos) const;
    SafeString GetNameFromPos(FKeyMapPos_t pos) const;
    SafeString GetLabelFromPos(FKeyMapPos_t pos) const;
    SafeString GetToolTipFromPos(FKeyMapPos_t pos) const;

    // Each adds a copy of key under the given name.
    // AddFKey replaces the first key of that name (the new one goes last);
    // AddNewFKey adds only when no key has that name (else nothing changes);
    // InsertFKey puts it before index (appends past the end).
    void AddFKey(const SafeString &name, const FKey_t &key);
    void AddNewFKey(const SafeString &name, const FKey_t &key);
    void InsertFKey(unsigned index, const SafeString &name, const FKey_t &key);
    void RemoveFKey(unsigned index);
    void RemoveFKey(const char *name);
    void RemoveAllFKeys() { m_FKeys.clear(); }

private:
    FKeyMap_t::iterator Find(const char *name);

    SafeString m_strT3IPath;
    SafeString m_strHTXPath;
    FKeyMap_t m_FKeys;
};

#endif
