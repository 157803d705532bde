// Field tables of a page template and their reader (.t3i files).
//
// A converted page template (.htx) has a companion field file with the same
// name and the extension .t3i: XML of "record" groups ("toweb", "fromweb",
// "main") holding "field" elements with name, cobname, mask (a COBOL
// picture), occurs and pad. The location of each field in the host screen
// record follows from the order of the fields within its group.
//
// Field files the screen-format converter writes say more, in markers that
// files of earlier builds lack (they read as before):
//  - the root <records converted="yes">: the page shows and takes host
//    values as a converted page of a single main record does (signed
//    numbers with the sign in bit 0x40 of the last digit, leading blanks
//    kept), also when it has toweb and fromweb records;
//  - hidden="n" on a numeric field: the n host bytes before it (the end of
//    the pad or filler line before it) are high digits its mask hides (on
//    any other field it makes the file refused);
//  - fccindex="n" (and protected="yes" when the field was protected at
//    conversion) on the fields of a page converted with limited or full
//    field-control support: the field shows as text, not as an input,
//    unless modification pair n (with the screen's filler) makes it
//    enterable.
#ifndef QOR_XFCGIT3I_H
#define QOR_XFCGIT3I_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct tcpHTML;

// One entry of a template's field tables; the template compiler adds
// entries of its own kinds to the main table.
struct TemplateField {
    // Bits of flags.
    static constexpr uint8_t kUpperCase = 8;  // input is upper-cased
    static constexpr uint8_t kProtected = 16; // protected at conversion (with fccIndex)
    static constexpr uint8_t kSigned = 32;    // its mask has a sign: a number may be negative

    uint32_t kind = 1;             // segment kind; 1 for every .t3i field
    std::string name;              // as used in the template and the form
    uint32_t length = 1;           // bytes of one occurrence
    int16_t occurrences = 0;       // occurs when 2 or more, else 0
    uint16_t location = 0;         // offset in the screen record
    uint16_t elementLength = 0;    // the length again when repeated, else 0
    uint8_t decimals = 0;          // digits after the implied point
    uint8_t pad = 0;               // bytes left free behind the field
    std::string picture;           // expanded when numeric or edited
    std::string cobName;           // COBOL name
    uint8_t flags = 0;
    uint16_t curOccurrence = 0;    // running occurrence while a page is filled
    uint8_t hidden = 0;            // host digits before the field that its mask hides
    int16_t fccIndex = -1;         // modification pair that decides its protection
};

using TemplateFieldTable = std::vector<TemplateField>;

// Reads the .t3i file at path into the template's main, toweb and fromweb
// tables, its screen size and its field-control-modification count.
// Returns 1 when the file was read. Returns 0 when it cannot be opened or
// is no regular file ("#No t3i file: ..." is logged, the tables stay as they were) or when it
// holds a field whose length, occurrence count, decimals, pad, hidden
// digits or field-control index is out of range, or hidden digits on a
// field that is no number (logged with the field's name; the file is
// refused as a whole and the tables are empty;
// refused, when given, receives the reason, and is empty otherwise).
// With listing set and the log's options q and t on, the tables are listed
// in the log.
int xFcgiLoadDataDesc(tcpHTML* tmpl, const char* path, bool listing,
                      std::string* refused = nullptr);

// Expands a COBOL picture ("9(5)V9(2)" -> "9999999"): length and decimals
// receive the byte length and the digits after the point. Returns true
// when the picture is numeric or edited (then the expanded form is the one
// to keep), false for alphanumeric pictures.
bool expandMask(const std::string& picture, std::string& expanded, int& length,
                int& decimals);

// Whether a mask gives its number a sign: it holds S, starts or ends with
// + or -, is in parentheses or ends with CR or DB (any case). The
// converter writes S before the mask of every signed host field.
bool xFcgiIsSignedPicture(const std::string& mask);

#endif
