// Mapping between fixed-layout COBOL records and XML or JSON documents,
// driven by a map file per copybook: "$QORROOT/qorsoa/<name>.mapxml"
// (QORROOT default "/usr/qorix").
//
// Map file: comma-separated lines; fields may stand in double quotes; lines
// that begin with '#', '*' or anything but a digit are passed over.
//   0,<record size>,<fields>,<XML size>,XB-1.0[,<error-area size>]
//   <level>,<name>,<sign>,<type>,<nlen>,<npl>,<loc>,<size>,<occurs>,
//       <edit mask>,<attribute>,<name space>,<upper case>,<count field>,<identify>
// <fields> (the number of field lines) is at most 32767.
// sign: '~' leading separate sign, '!' trailing separate sign, '-' signed
// (overpunch in the last digit), anything else unsigned. type: 'G' group,
// 'B' big-endian binary (1 to 8 bytes), 'D' zoned decimal, 'P' packed
// decimal, 'X' text, 'E' edited and 'N' numeric text. npl: decimal places
// (B, D, P). loc: offset of the first occurrence in the record; size: bytes
// of one occurrence (of a group: of one occurrence of the whole group).
// The flags are 1/Y/T for yes. The count field names the field that holds
// how many occurrences are in use.
//
// Documents: each field is an element named after it; an occurring group
// becomes "<name>_List" holding one "<name>" element per occurrence (in
// JSON an array "<name>": [...]), an occurring field one element per
// occurrence; an attribute field is an attribute of its group's element
// (in JSON a member). Numbers are written with a '.' placed by npl,
// leading zeros removed and '-' when negative; text without trailing
// blanks (E and N also without leading ones) and without control
// characters; a field of X'FF' bytes as "<High-Values>". Read back, text
// is stored left-justified in X fields and right-justified in E and N
// fields, blank-filled, so a record goes out and comes back the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "xmlparse.h"

constexpr uint16_t kXmlBookNoField = 65535;

struct XmlBookFld {
    std::string name;      // the XML tag
    std::string identify;  // identifying value
    std::string countIn;   // name of the field that holds the occurrence count
    std::string emask;     // edit mask
    uint16_t countInPos = kXmlBookNoField;  // index of the count field
    int16_t ownerPos = -1;                  // index of the enclosing group
    uint16_t level = 0;
    uint16_t nlen = 0;
    uint16_t npl = 0;      // decimal places
    uint16_t size = 0;     // bytes of one occurrence
    uint16_t occurs = 1;
    uint16_t occn = 0;     // current occurrence while a record is converted
    uint16_t maxocc = 0;   // occurrences a document may hold
    uint32_t loc = 0;      // offset in the record
    uint32_t dataPos = 0;  // offset after alignment
    char type = 'X';
    bool isAttr = false;
    bool sign = false;
    bool signLdg = false;
    bool signTrl = false;
    bool toUpper = false;
    bool hasNameSpace = false;
};

struct XmlBook {
    std::string name;        // at most 32 characters
    int recsize = 0;
    unsigned reclen = 0;     // bytes the fields reach (after XmlBookPrep)
    int nflds = 0;
    int xmlsize = 0;         // size a document buffer should have
    int errsize = 28;        // error-area size
    std::vector<XmlBookFld> fields;
    bool forDps = false;     // binary fields aligned to their size
    bool prepared = false;
};

// Loads the map of a copybook; null when it cannot be opened ("#Failed to
// open %s because '%s'"), has another version ("Cobol Copy Book version %s
// but want version %s", "Rerun  qorcblxml on you COPY book to identify XML
// tags") or a bad line (logged). Names with '/' are refused.
XmlBook* XmlBookLoad(const char* name);
// The same from an open map file; name is the map's name.
XmlBook* XmlBookRead(FILE* f, const char* name);
// Computes the field positions and checks that every field, with all its
// occurrences, lies inside its group and the record; false (logged) when
// not. The conversions prepare a map that is not prepared yet.
bool XmlBookPrep(XmlBook* map);
void XmlBookFree(XmlBook* map);

// Fills record (length bytes, at least the map's reclen) from a parsed
// XML or JSON document: each element named after a field is converted to
// the field's type at its position and occurrence; count fields receive
// the number of occurrences read. Fields the document does not name are
// left as they are. False when anything could not be converted (logged,
// e.g. "#Node %s has unknown type '%c'"); what could be is stored. A
// document nested deeper than 64 levels is refused whole (logged).
bool XmlToCobol(XmlRef ref, XmlBook* map, char* record, size_t length);

// Builds the document of a record in *ref (created when ref->root is
// null) and writes it as XML (XmlFromCobol) or JSON (JsonFromCobol) to fd
// and/or buf when they are given. fcc and crs, when not empty, hold field
// control (2 bytes) and cursor data (1 byte) for each field occurrence
// written, in document order (an attribute field takes its entry too);
// they are written as the attributes fcc and crs (in JSON a member
// "<name>_attr" {"fcc", "crs"} after the value). Occurrences beyond the
// count field's value are not written. Returns 0, or -1 when the record is
// shorter than the map or the document could not be written.
int XmlFromCobol(XmlBook* map, XmlRef* ref, const char* record, size_t length,
                 std::string_view fcc, std::string_view crs, char* buf, size_t buflen, FILE* fd);
int JsonFromCobol(XmlBook* map, XmlRef* ref, const char* record, size_t length,
                  std::string_view fcc, std::string_view crs, char* buf, size_t buflen, FILE* fd);
