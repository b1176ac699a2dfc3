// Files that runs killed mid-change left beside a file: new files at NAME~
// and NAME~ with six letters or digits (and the same for a backup copy's
// NAME.bak~). A change removes those that are certainly such files; what
// else stands at those names (links, directories, other users' files)
// stays, and is only reported.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace zorv {

struct Leftover {
  std::string path;
  const char* problem;  // why it stays; nullptr when a change removes it
  bool waitingBackup;   // the backup's name in waiting itself
};

// Why the file described by info, at one of the names above, is not
// certainly a leftover of ours: nullptr when it is a regular file with one
// name, root's or owner's.
const char* leftoverProblem(const struct stat& info, uid_t owner);

// What stands in target's directory at newName, newName and six letters or
// digits, backupTemporary, and backupTemporary and six letters or digits.
std::vector<Leftover> findLeftovers(const std::string& target, const std::string& newName,
                                    const std::string& backupTemporary);

// Unlinks (never opens) the leftovers that are certainly ours; the rest
// stay. 0, or -1 with the failure reported.
int removeLeftovers(const std::string& target, const std::string& newName, const std::string& backupTemporary);

}  // namespace zorv
