// Opening files that someone else may have put in place: the open never
// waits, and only a regular file is read or written.
#ifndef QOR_REGULARFILE_H
#define QOR_REGULARFILE_H

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using UniqueFile = std::unique_ptr<FILE, FileCloser>;

// Opens path for reading.  A FIFO or a device put at the path would block a
// plain open (a FIFO until a writer comes) or a read without end, so the
// open does not wait and anything but a regular file is refused.  A link is
// followed.  Null when the file is missing, cannot be opened or is not a
// regular file; why (when given) then says which, for a log line.
UniqueFile OpenRegularFile(const std::string &path, std::string *why = nullptr);

// The same for writing (a log, a report): flags are O_WRONLY and any of
// O_CREAT (mode 0666 less the umask), O_TRUNC and O_APPEND.  A FIFO at the
// path would block the open until a reader comes, or hand the text to
// whoever reads it; it is refused like any other file that is not regular.
// errno then says why as well (EINVAL: not a regular file).
UniqueFile OpenRegularFileToWrite(const std::string &path, int flags, std::string *why = nullptr);

#endif
