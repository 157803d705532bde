// Lower-casing in place.
#ifndef QOR_TO_LOWER_H
#define QOR_TO_LOWER_H

// Lower-cases the first n characters of text (n < 0: up to its NUL); only
// the letters A-Z change. Returns text.
char *to_lower(char *text, int n);

#endif
