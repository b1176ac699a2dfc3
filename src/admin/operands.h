// The operands of -p, -o, -x and --get: stored exactly or refused before
// anything is read.
#pragma once

#include <string_view>

#include "admin/context.h"

namespace zorv {

// Why operand cannot be stored and read back as the same value, or why it
// must not reach a terminal or the syslog (control characters); null when
// nothing is wrong.
const char* operandProblem(std::string_view operand);

// The run's operands checked; 0, or the refusal status after a message.
int checkOperands(const AdminContext& context);

// One named operand checked, as checkOperands checks each.
int checkOperand(const char* what, std::string_view operand);

}  // namespace zorv
