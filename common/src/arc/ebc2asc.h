// EBCDIC (code page 037) <-> ASCII/Latin-1 translation, and the host's
// 64-character field code.
#ifndef QOR_EBC2ASC_H
#define QOR_EBC2ASC_H

// The tables, indexed by byte value; each is the inverse of the other.
extern const unsigned char ebcToAscTable[256];
extern const unsigned char ascToEbcTable[256];
// The field code: code i (0..63) is the i-th character of this text.
extern const char fieldCodeChars[65];

// One byte.
unsigned char eb_to_as(unsigned char c);
unsigned char as_to_eb(unsigned char c);

// n bytes in place. Each returns buf.
unsigned char *toEbcdic(unsigned char *buf, int n);
unsigned char *toAscii(unsigned char *buf, int n);
// As above, leaving 3-byte control sequences that begin with 0x10 as they
// are (terminal text).
unsigned char *utsToEbcdic(unsigned char *buf, int n);
unsigned char *utsToAscii(unsigned char *buf, int n);
// Display fields: the plain translation of every byte.
unsigned char *dispToEbcdic(unsigned char *buf, int n);
unsigned char *dispToAscii(unsigned char *buf, int n);
// Field code <-> ASCII: codes 64 and above become blanks; characters
// outside the code become the code of a blank (lower-case letters take the
// code of their capital).
unsigned char *fieldToAscii(unsigned char *buf, int n);
unsigned char *asciiToField(unsigned char *buf, int n);

#endif
