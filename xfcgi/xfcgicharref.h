// Numeric character references in posted values.
//
// A browser sends a character that the page's character set lacks as a
// numeric character reference, "&#" decimal digits ";" - and text the
// user typed as "&#65;" arrives just alike. With ISO-8859-1 a reference
// to a character of the set can only have been typed as text (the browser
// would have sent the byte); with any other set the two cannot be told
// apart. A form holding a refused reference is shown again with the
// character itself, so that the user sees what to change.
#ifndef QOR_XFCGICHARREF_H
#define QOR_XFCGICHARREF_H

#include <string>
#include <string_view>

// The value a reference beyond Unicode is taken as.
constexpr long xFcgiBeyondUnicode = 0x110000;

// The length of the reference at the start of text ("&#" decimal digits
// ";" or "&#x" hexadecimal digits ";", leading zeros allowed), 0 when
// there is none; code gets its value, xFcgiBeyondUnicode for any larger.
size_t xFcgiCharRef(std::string_view text, long &code);
// Whether a reference to code stands for a character the page's character
// set lacks: with ISO-8859-1 (latin1) any but 0x20-0x7E and 0xA0-0xFF,
// with other sets every one.
bool xFcgiRefusedRef(long code, bool latin1);
// Whether a browser shows code as a character: a Unicode scalar value
// (no surrogate) that is neither a control character (C0, DEL, C1: a page
// reference to 0x80-0x9F means a windows-1252 character) nor a
// noncharacter.
bool xFcgiShowableCode(long code);
// Whether a character-set name names ISO-8859-1, by any of its usual
// names (case, "-", "_" and blanks ignored).
bool xFcgiIsLatin1Name(std::string_view name);
// Appends a typed value as xFcgiEscapeData does, except that each refused
// reference (xFcgiRefusedRef) to a showable code is written as "&#" its
// decimal value ";", made afresh from the number, so that the browser
// shows the character the user typed.
void xFcgiEscapeTyped(std::string_view value, bool latin1, std::string &out);

#endif
