// The audit lines of the changes to the configuration, in their words:
// each change made, each refused or failed with its reason, and what a
// --restore changed.
#pragma once

#include <string>
#include <string_view>

#include "admin/context.h"
#include "config/config_files.h"
#include "config/config_pass.h"

namespace zorv {

// An add or modify of queue's entry to device (previous empty: the file had
// none), or its removal.
void logDeviceChange(AdminCommand command, std::string_view queue, std::string_view previous, std::string_view device,
                     const std::string& config);

// A setting set to value (previous: its value before, when it had a line).
void logSettingChange(std::string_view key, const SettingValue& previous, std::string_view value,
                      const std::string& config);

// A change that ended with status, with the reason last reported.
void logRefusedChange(const AdminContext& context, const std::string& config, int status);

// The device paths that differ between the entries of the configuration and
// of its backup, as "Q1 from /dev/a to /dev/b, ..."; read before the backup
// is put back. Empty when none does.
std::string restoredDeviceChanges(const ConfigFiles& files);

void logRestore(const std::string& config, const std::string& changes);
void logRefusedRestore(const std::string& config, int status);

}  // namespace zorv
