// Saving the configuration file so that a failed save loses nothing.
//
// When the folder of the file (of the file a symbolic link points to) is
// writable, the text goes to a temporary file beside it, named
// "<file>.qorconfig-save.XXXXXX", which is flushed to disk, given the old
// file's mode and owner and renamed over it; the folder is then flushed
// too, and readers see either the old or the new text. When only the file
// is writable (a common set-up: the folder belongs to root, the file to
// the editor's user), the file is rewritten in place under a record lock,
// and on a failure its old text is written back.
//
// A file nobody may write (no write bit set, or not writable for the
// editor's user) is refused, whoever the editor runs as: an administrator
// who made it read-only meant it.
//
// Before saving, temporary files of earlier saves that were left behind
// (a crash) are removed: only those with the marker of this file, owned by
// the editor's user and older than a minute, so that saves of other
// editors running at the same moment and an administrator's copies
// ("qoric.conf.backup") are never touched.
#ifndef QOR_FILESAVE_H
#define QOR_FILESAVE_H

#include <string>
#include <string_view>

// The marker between a file's name and the six characters of a temporary
// file of its save.
constexpr const char *kSaveMarker = ".qorconfig-save.";

// Age in seconds from which a temporary file counts as left behind.
constexpr int kStaleSaveSeconds = 60;

// Replaces the text of the file at path (created when it does not exist).
// True when the new text is on disk; false, with the reason, when the old
// text stays (or, if even writing it back failed, says so).
bool SaveFileText(const std::string &path, std::string_view text, std::string &why);

#endif
