// Debugging aid of the request loop: the input table of the current
// request, one line per entry.
#include "xfcgin.h"

#include "logprint.h"
#include "xfcgiinput.h"

void xFcgiDumpData()
{
    logPrintf("#Dump of input variable table\n");
    const int n = xFcgiInputCount();
    for (int i = 0; i < n; ++i) {
        const char *name = xFcgiInputName(i);
        const char *value = xFcgiInputValue(i);
        logPrintf("%2d) %-20s = %s\n", i, name ? name : "", value ? value : "");
    }
}
