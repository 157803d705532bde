// Parsing of COBOL PICTURE strings into the kind, length and edit mask of
// a data item (used by CDataRecord::AddItem).
//
//   prefix  any number of '$' (currency) and 'S' (sign), case ignored
//   type    X, U or A (text; no prefix allowed), 9, Z or 2 (numeric)
//   body    the type character and those after it; "(n)" repeats the
//           character before it n times in all (n >= 1)
//
// Text pictures allow only their type character. A numeric picture with a
// prefix or any character other than its type is edited: the characters
// 9 Z 2 , . / : are allowed, and only 9, Z and 2 take a byte.
#ifndef QOR_DATARECORDPICTURE_H
#define QOR_DATARECORDPICTURE_H

#include <string>

struct DataPicture {
    int type = 0;          // 'X', 'U', 'A', '9' (plain numeric) or 'E' (edited)
    unsigned length = 0;   // bytes the item takes
    bool sign = false;
    bool currency = false;
    std::string mask;      // body characters, upper case, repeats expanded
};

// False (nothing set) for a rejected picture: null or empty, a bad type or
// body character, "(0)", an unclosed or misplaced "(", or a length or mask
// above CDataItem::kMaxExtent.
bool ParseDataPicture(const char *picture, DataPicture &out);

#endif
