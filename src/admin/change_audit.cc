#include "admin/change_audit.h"

#include <map>
#include <utility>

#include "admin/change_log.h"
#include "config/config_pass.h"
#include "io/problem_report.h"

namespace zorv {
namespace {

// A device path, or "(none)", which no quoted value can be.
std::string deviceOrNone(std::string_view device) { return device.empty() ? "(none)" : auditQuoted(device); }

std::string reasonFor(int status) {
  const std::string_view reason = lastProblem();
  return reason.empty() ? "status " + std::to_string(status) : std::string(reason);
}

// Each queue's name and device path, by folded name; the first block wins.
std::map<std::string, std::pair<std::string, std::string>> devicesIn(const ConfigFiles& files) {
  EveryQueueKnown every;
  const ConfigRead read = readConfig(files, every, {EntryKeeping::All, MissingFile::IsAnError, {}, nullptr});
  std::map<std::string, std::pair<std::string, std::string>> devices;
  for (const PrinterEntry& entry : read.content.entries) {
    devices.emplace(foldedQueueName(entry.spooler.view()),
                    std::pair(std::string(entry.spooler.view()), std::string(entry.devicePath.view())));
  }
  return devices;
}

}  // namespace

void logDeviceChange(AdminCommand command, std::string_view queue, std::string_view previous, std::string_view device,
                     const std::string& config) {
  const std::string person = invokingPerson();
  const std::string quoted = auditQuoted(queue);
  if (command == AdminCommand::Remove) {
    logChange("%s removed the entry of queue %s (device path %s) from %s", person.c_str(), quoted.c_str(),
              deviceOrNone(previous).c_str(), auditQuoted(config).c_str());
    return;
  }
  logChange("%s set the device path of queue %s from %s to %s in %s", person.c_str(), quoted.c_str(),
            deviceOrNone(previous).c_str(), auditQuoted(device).c_str(), auditQuoted(config).c_str());
}

void logSettingChange(std::string_view key, const SettingValue& previous, std::string_view value,
                      const std::string& config) {
  const std::string old = previous.present ? auditQuoted(previous.value) : "(none)";
  logChange("%s set %s from %s to %s in %s", invokingPerson().c_str(), std::string(key).c_str(), old.c_str(),
            auditQuoted(value).c_str(), auditQuoted(config).c_str());
}

void logRefusedChange(const AdminContext& context, const std::string& config, int status) {
  const std::string person = invokingPerson();
  const std::string queue = auditQuoted(context.printerName);
  const std::string reason = reasonFor(status);
  if (context.command == AdminCommand::Remove) {
    logRefusal("%s could not remove the entry of queue %s from %s: %s", person.c_str(), queue.c_str(),
               auditQuoted(config).c_str(), reason.c_str());
    return;
  }
  logRefusal("%s could not set the device path of queue %s to %s in %s: %s", person.c_str(), queue.c_str(),
             deviceOrNone(context.devicePath).c_str(), auditQuoted(config).c_str(), reason.c_str());
}

std::string restoredDeviceChanges(const ConfigFiles& files) {
  const auto before = devicesIn(files);
  const auto after = devicesIn(configFilesFor(files.backup));
  std::string changes;
  const auto add = [&changes](const std::string& queue, std::string_view from, std::string_view to) {
    if (from == to) return;
    changes += (changes.empty() ? "" : ", ") + auditQuoted(queue) + " from " + deviceOrNone(from) + " to " +
               deviceOrNone(to);
  };
  for (const auto& [folded, entry] : before) {
    const auto restored = after.find(folded);
    add(entry.first, entry.second, restored == after.end() ? "" : restored->second.second);
  }
  for (const auto& [folded, entry] : after) {
    if (before.count(folded) == 0) add(entry.first, "", entry.second);
  }
  return changes;
}

void logRestore(const std::string& config, const std::string& changes) {
  const std::string person = invokingPerson();
  if (changes.empty()) {
    logChange("%s restored %s from its backup", person.c_str(), auditQuoted(config).c_str());
  } else {
    logChange("%s restored %s from its backup; device paths: %s", person.c_str(), auditQuoted(config).c_str(),
              changes.c_str());
  }
}

void logRefusedRestore(const std::string& config, int status) {
  logRefusal("%s could not restore %s from its backup: %s", invokingPerson().c_str(), auditQuoted(config).c_str(),
             reasonFor(status).c_str());
}

}  // namespace zorv
