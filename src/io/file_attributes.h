// The extended attributes a new version of a file takes from the old one:
// ACLs and security labels.
#pragma once

namespace zorv {

// Gives the file open at to the extended attributes of the file open at
// from, and drops those it has that from has not (a default ACL it took
// from its directory). A file system without them has nothing to copy.
// 0, or -1 with errno set.
int copyExtendedAttributes(int from, int to);

}  // namespace zorv
