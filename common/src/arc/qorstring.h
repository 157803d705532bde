// String helpers: comparisons without regard to case, fixed-width text
// copies, Base64, and quoting for the shell.
#ifndef QOR_QORSTRING_H
#define QOR_QORSTRING_H

#include <string>

// Difference of the first unequal characters after upper-casing, 0 when
// equal. strnicmp compares at most n characters.
int stricmp(const char *a, const char *b);
int strnicmp(const char *a, const char *b, int n);
// First occurrence of part in text without regard to case, or null.
const char *stristr(const char *text, const char *part);

// Copies up to n characters of src into dst and fills up to n with blanks
// (no NUL). Returns dst.
char *mstrncpy(char *dst, const char *src, int n);
// Copies n characters of src without trailing blanks and NULs into dst and
// adds a NUL (dst needs n + 1 bytes). Returns dst.
char *cstrncpy(char *dst, const char *src, int n);

// Base64 (RFC 4648 alphabet). n < 0 means strlen(in).
// toBase64 writes 4 characters per 3 bytes, '=' padded, and a NUL: out
// needs base64EncodedSize(n) bytes.
// fromBase64 decodes groups of 4 while more than 3 characters remain; a '='
// in third place ends after one byte, in fourth after two; a blank decodes
// as '+' (62), any other character outside the alphabet as 0. Adds a NUL:
// out needs base64DecodedSize(n) bytes. *outLen (optional) gets the byte
// count. Both return out.
constexpr int base64EncodedSize(int n) { return (n + 2) / 3 * 4 + 1; }
constexpr int base64DecodedSize(int n) { return n / 4 * 3 + 1; }
char *toBase64(char *out, const void *in, int n);
char *fromBase64(char *out, const char *in, int n, int *outLen = nullptr);

// The text in single quotes for a shell command line, so blanks and shell
// characters in it are taken literally.
std::string qorShellQuote(const std::string &text);

#endif
