#include "admin/operands.h"

#include <algorithm>
#include <cstdio>

#include "admin/device_path.h"
#include "admin/exit_status.h"
#include "admin/process_guard.h"
#include "io/problem_report.h"
#include "io/text_field.h"

namespace zorv {
namespace {

constexpr std::size_t kMaxOperandBytes = kTextFieldSize - 1;

}  // namespace

const char* operandProblem(std::string_view operand) {
  if (operand.find_first_of("\r\n") != std::string_view::npos) return "must not contain a line break";
  if (operand.size() > kMaxOperandBytes) return "is longer than 255 bytes";
  if (!operand.empty() && (operand[0] == ' ' || operand[0] == '\t' || operand[0] == ':')) {
    return "must not begin with a space, a tab or a colon";
  }
  if (std::any_of(operand.begin(), operand.end(), isControlCharacter)) return "must not contain control characters";
  return nullptr;
}

int checkOperand(const char* what, std::string_view operand) {
  const char* problem = operand.empty() ? "must not be empty" : operandProblem(operand);
  if (problem == nullptr) return kExitOk;
  reportProblem("the %s %s", what, problem);
  return kExitRefused;
}

int checkOperands(const AdminContext& context) {
  if (context.command == AdminCommand::List) return kExitOk;
  if (const int status = checkOperand("queue name", context.printerName); status != kExitOk) return status;
  if (context.command != AdminCommand::Add || context.devicePath.empty()) return kExitOk;
  if (const int status = checkOperand("device path", context.devicePath); status != kExitOk) return status;
  // As --check has it: the daemon opens the path from its own directory.
  if (context.devicePath[0] != '/') {
    reportProblem("the device path must be absolute");
    return kExitRefused;
  }
  // The daemon would write print data into a file, a directory or a FIFO.
  // Looked at with the caller's rights: a set-user-ID run refuses nothing
  // the caller could not see.
  DevicePathVerdict verdict = DevicePathVerdict::CannotCheck;
  withCallersRights([&] { verdict = judgeDevicePath(context.devicePath); });
  if (!refusesDevicePath(verdict)) return kExitOk;
  reportProblem("the device path %s %s; refused", shownDevicePath(context.devicePath).c_str(),
                devicePathProblem(verdict));
  return kExitRefused;
}

}  // namespace zorv
