// Finding an executable along a search path (QORPATH, else PATH).
//
// Results point into a buffer owned by this unit and stay valid until the
// next call. A small cache of recent look-ups can be switched on by a call
// with a null name.
#ifndef QOR_SEARCHPATH_H
#define QOR_SEARCHPATH_H

#include <sys/stat.h>

// Full path of an executable, or null. Names that begin with '.' or '/'
// are taken as they are; others are tried as "./name" first, then along
// the ':'-separated list (null: QORPATH, else PATH; an empty element is the
// root directory). Names too long for the result buffer are refused.
// A null name empties the cache, switches it on, and returns null.
const char *searchPath(const char *name, const char *list);

// As searchPath, trying "name.ext" for each element of the ':'-separated
// list of extensions (an empty element tries the bare name). *foundExt
// (when not null) is set to the extension that was found ("" for the bare
// name); it points into this unit's storage.
const char *searchPathExt(const char *name, const char *list,
                          const char *extensions, const char **foundExt);

// true (the default): executables need read and execute permission for
// the class of the caller (0500 owner, 0050 group, 0001 others); false:
// read permission only (0400, 0040, 0004).
void setExecRequired(bool required);

// 0 when the caller may run the file described by st, else -1.
int IsExecutable(const struct stat &st);

// Whether the last file found had the sticky bit set.
bool searchPathSticky();

#endif
