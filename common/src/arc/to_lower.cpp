// Lower-casing in place, limited to the letters A-Z so that the result
// does not depend on the locale.
#include "to_lower.h"

char *to_lower(char *text, int n)
{
    if (!text)
        return text;
    for (int i = 0; n < 0 ? text[i] != '\0' : i < n; ++i)
        if (text[i] >= 'A' && text[i] <= 'Z')
            text[i] = static_cast<char>(text[i] - 'A' + 'a');
    return text;
}
