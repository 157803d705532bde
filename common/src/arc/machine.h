// Loads and stores of numbers in the host's record formats: big-endian
// (most significant byte first) and little-endian binary, variable-width
// binary, zoned decimal with sign overpunch, and packed decimal.
//
// Every function works on memory the caller supplies and never allocates;
// the pointers may be unaligned.
#ifndef QOR_MACHINE_H
#define QOR_MACHINE_H

#include <cstdint>

// Big-endian 16 and 32 bits. The stores return v.
int16_t mldshort(const void *p);
int32_t mldint(const void *p);
int32_t mstshort(int32_t v, void *p);
int32_t mstint(int32_t v, void *p);
uint16_t mldushort(const void *p);
uint32_t mstushort(uint32_t v, void *p);
uint32_t mlduint(const void *p);
uint32_t mstuint(uint32_t v, void *p);

// Little-endian (the i386 order) 16 and 32 bits. The stores return v.
int32_t mldintle(const void *p);
int32_t mstintle(int32_t v, void *p);
uint16_t mldushortle(const void *p);
int16_t mldshortle(const void *p);
int32_t mstshortle(int32_t v, void *p);
int32_t mld386(const void *p);
int32_t mst386(int32_t v, void *p);

// 64 bits in 8 bytes, most significant byte first.
int64_t mldlonglong(const void *p);
int64_t mstlonglong(int64_t v, void *p);
// A pointer value kept in 8 bytes.
void *mldPtrFromChar(const void *p8);
void mstPtrToChar(const void *ptr, void *p8);

// Variable width, big-endian, n bytes. The store writes the low min(n, 4)
// (min(n, 8)) bytes and fills leading bytes with 0x00, or 0xFF for a
// negative value; the loads take the last min(n, 4) (min(n, 8)) bytes,
// sign-extended or not. n < 1 stores nothing and loads 0.
void mstintv(int32_t v, void *p, int n);
int32_t mldintv(const void *p, int n);
uint32_t mlduintv(const void *p, int n);
void mstllv(int64_t v, void *p, int n);
int64_t mldllv(const void *p, int n);
uint64_t mldullv(const void *p, int n);

// Zoned decimal of n characters to int. Blanks, control characters, ',',
// '.' and '+' are skipped, '-' makes the value negative; a last character
// from "{ABCDEFGHI" is a positive digit 0-9, one from "}JKLMNOPQR" a
// negative one, and an ASCII overpunch ('p'..'y', bit 0x40) a negative one.
// Values beyond 32 bits wrap (modulo 2^32); n < 1 gives 0.
int32_t mldintuc(const char *text, int n);
// Writes the last n digits of |v| (leading zeros) into text; a negative
// value sets bit 0x40 of the last digit ('0'..'9' -> 'p'..'y'), or in
// EBCDIC-sign mode replaces it by one of "}JKLMNOPQR". No NUL is added.
// Returns text.
char *mstintuc(int32_t v, char *text, int n);
// Switches the EBCDIC sign mode of mstintuc; returns the previous mode.
int msetEbcdic(int flag);

// Packed decimal of n bytes: 2n - 1 digits, high nibble first, the sign in
// the low nibble of the last byte (0xC positive, 0xD negative, 0xF
// unsigned). Stores keep the low digits of a value too wide for n bytes.
void mstintpk(int32_t v, void *p, int n);
void mstuintpk(uint32_t v, void *p, int n);
int32_t mldintpk(const void *p, int n);
// Packed to text: the sign ('-' or '+', ' ' when unsigned) then the 2n - 1
// digits and a NUL; text needs 2n + 1 bytes. Returns text.
char *mldstrpk(const void *p, int n, char *text);
// Text (optional sign, digits; other characters skipped) to packed; the
// sign nibble is 0xD for '-', else 0xC.
void mststrpk(const char *text, void *p, int n);

#endif
