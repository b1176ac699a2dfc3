// The names of the administered file and its companions: the new file of a
// rewrite ("~"), the backup (".bak") and the lock file (".lock").
#pragma once

#include <string>

namespace zorv {

constexpr const char* kDefaultConfigPath = "/etc/zorv.conf";

struct ConfigFiles {
  std::string config;
  std::string newFile;
  std::string backup;
  std::string lock;
};

ConfigFiles configFilesFor(const std::string& configPath);

// /etc/zorv.conf, or the file named by ZORV_CONF; secure_getenv makes a
// set-user-ID install ignore the variable.
ConfigFiles configFilesFromEnvironment();

}  // namespace zorv
