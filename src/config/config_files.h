// The names of the administered file and its companions: the new file of a
// rewrite ("~"), the backup (".bak"), the backup's name until the new file
// is in place (".bak~") and the lock file (".lock").
#pragma once

#include <string>

namespace zorv {

constexpr const char* kDefaultConfigPath = "/etc/zorv.conf";

struct ConfigFiles {
  std::string config;
  std::string newFile;
  std::string backup;
  std::string backupTemporary;
  std::string lock;
  int followError = 0;  // EACCES: config is a link that must not be followed
};

// The companions of configPath. A configPath that is a symbolic link is
// resolved first, so a rewrite changes the file it points to and the link
// stays a link; a link that cannot be resolved is kept as given, and
// opening it then reports why. A link the kernel's protected_symlinks rule
// would not follow (another user's, in a world-writable sticky directory)
// is not followed either: config is then that link, and followError set.
ConfigFiles configFilesFor(const std::string& configPath);

// Reports a link that was not followed; 0 when there is none, else -1.
// Every command calls it before it touches a file.
int checkLinksFollowed(const ConfigFiles& files);

// /etc/zorv.conf, or the file named by ZORV_CONF; secure_getenv makes a
// set-user-ID install ignore the variable.
ConfigFiles configFilesFromEnvironment();

}  // namespace zorv
