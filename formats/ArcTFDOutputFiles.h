// Output files that appear whole or not at all: each text goes to a
// temporary file in its target's folder (".name.XXXXXX"), and only when
// every text is written are they renamed over their targets, in the order
// given. A reader of the folder sees the old file or the new one, never a
// part of one.
#ifndef QOR_ARCTFDOUTPUTFILES_H
#define QOR_ARCTFDOUTPUTFILES_H

#include <string>
#include <vector>

struct CArcTFDOutputFile {
    std::string path;
    std::string text;
};

// False, with the reason (path and system error) in why, when a file cannot
// be written or renamed; the temporary files are removed then.
bool WriteOutputFiles(const std::vector<CArcTFDOutputFile> &files, std::string &why);

#endif
