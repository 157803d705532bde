// Numbers of the host's record formats to and from edited decimal text:
// packed decimal, zoned decimal ("unpacked") and big-endian binary
// ("comp"), each with an implied number of decimals.
//
// Edited text, as written: an optional '-', the integer digits without
// leading zeros (at least one digit), and with decimals > 0 a '.' and
// exactly `decimals` fraction digits, then a NUL. Zero is never negative.
// Packed 0x12 0x34 0x5D with 2 decimals reads "-123.45".
//
// Edited text, as read: blanks around the number, one sign ('+' or '-')
// before or after the digits, digits with at most one '.', at least one
// digit. Fraction digits beyond `decimals` are accepted only when they are
// zeros, and the value must fit the field: the text is refused (-1) and the
// field left untouched rather than a digit being lost.
//
// The readers of the record formats refuse (-1, text empty) bytes that are
// no number: a digit nibble above 9 or a sign nibble below 0xA in packed
// decimal, a character that is no digit in zoned decimal (blanks before
// the first digit count as zeros; the last character may carry the sign
// as mldintuc reads it). decimals must be 0 or more.
#ifndef QOR_NUMEDIT_H
#define QOR_NUMEDIT_H

// Packed decimal of n bytes (2n - 1 digits, sign nibble 0xB or 0xD
// negative, 0xA, 0xC, 0xE, 0xF positive) to text. text needs 2n + 2
// bytes (decimals + 4 when that is more). Returns the length of the text,
// or -1.
int mnpstr(const void *p, int n, int decimals, char *text);
// Text to packed decimal of n bytes, sign nibble 0xC or 0xD. 0, or -1.
int mstrnp(const char *text, void *p, int n, int decimals);

// Zoned decimal of n characters to text. text needs n + 3 bytes (decimals
// + 4 when that is more). Returns the length of the text, or -1.
int mnupstr(const char *zoned, int n, int decimals, char *text);
// Text to n zoned digits (no NUL); a negative value marks its last digit
// as mstintuc does (EBCDIC-sign mode included). 0, or -1.
int mstrnup(const char *text, char *zoned, int n, int decimals);

// Signed big-endian binary of n bytes (1 to 8) to text. text needs 22
// bytes (decimals + 4 when that is more). Returns the length of the
// text, or -1.
int mcompstr(const void *p, int n, int decimals, char *text);
// Text to signed big-endian binary of n bytes (1 to 8). 0, or -1.
int mstrcomp(const char *text, void *p, int n, int decimals);

#endif
