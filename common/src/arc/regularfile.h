// Reading files that someone else may have put in place: the open never
// waits, and only a regular file is read.
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

#endif
