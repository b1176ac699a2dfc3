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
};

// The companions of configPath. A configPath that is a symbolic link is
// resolved first, so a rewrite changes the file it points to and the link
// stays a link; a link that cannot be resolved is kept as given, and
// opening it then reports why.
ConfigFiles configFilesFor(const std::string& configPath);

// /etc/zorv.conf, or the file named by ZORV_CONF; secure_getenv makes a
// set-user-ID install ignore the variable.
ConfigFiles configFilesFromEnvironment();

}  // namespace zorv
