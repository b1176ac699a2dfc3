#include "config/config_files.h"

#include <cstdlib>

namespace zorv {

ConfigFiles configFilesFor(const std::string& configPath) {
  return ConfigFiles{configPath, configPath + "~", configPath + ".bak", configPath + ".lock"};
}

ConfigFiles configFilesFromEnvironment() {
  const char* fromEnvironment = secure_getenv("ZORV_CONF");
  if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return configFilesFor(fromEnvironment);
  return configFilesFor(kDefaultConfigPath);
}

}  // namespace zorv
