// 64-bit integers, held big-endian in 8 bytes (high word first), to and
// from decimal text with an implied number of decimals.
#ifndef QOR_MACHDBL_H
#define QOR_MACHDBL_H

// Reads n characters of decimal text into out8. Digits accumulate, blanks,
// control characters and ',' are skipped, '.' starts the fraction, '-'
// makes the value negative, and a last character with bit 0x40 and a digit
// in its low 4 bits (zoned overpunch) does too; other characters count as
// the digit in their low 4 bits when that is 0-9. Zeros are appended until
// the fraction has `decimals` digits (a longer fraction is kept whole).
// Values beyond 64 bits wrap. Returns 1, or -1 for a negative value.
int mStrDblInt(void *out8, const char *text, int n, int decimals);

// Writes the value of in8 into exactly width characters of out (no NUL): a
// sign ('-' or ' '), then the digits right-aligned with leading zeros; with
// decimals > 0 a '.' before the last `decimals` digits, the text keeping
// its width. Digits that do not fit are dropped from the left.
// Returns 1, or -1 for a negative value.
int mDblIntStr(const void *in8, char *out, int width, int decimals);

// Adds the decimal digits of b (lenB characters) into the digits of a
// (lenA characters), right-aligned, with carry. Returns 1 when a carry fell
// off the left end of a, else 0.
int mAddDec(char *a, const char *b, int lenA, int lenB);

#endif
