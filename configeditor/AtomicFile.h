// Replacing a file so that readers see either the old or the new text,
// never a part.
#ifndef QOR_ATOMICFILE_H
#define QOR_ATOMICFILE_H

#include <string>
#include <string_view>

// Writes text to a temporary file in the directory of path (of the file a
// symbolic link points to), flushes it to disk, gives it the old file's
// mode (a new file: 0666 less the umask) and renames it over the old file.
// False, with the reason, when any step fails: the old file is then
// untouched and the temporary file removed.
bool ReplaceFileAtomically(const std::string &path, std::string_view text, std::string &why);

#endif
