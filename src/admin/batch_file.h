// --batch's file: one change a line ("add QUEUE DEVICE", "remove QUEUE",
// "set KEY VALUE"), read and parsed before anything else, each change
// keeping its line number for the messages.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zorv {

enum class BatchVerb { Add, Remove, Set };

struct BatchChange {
  int line = 0;
  BatchVerb verb = BatchVerb::Add;
  std::string name;   // the queue, or the setting's key
  std::string value;  // the device path, or the setting's value; empty for remove
};

// At most this many changes in one batch, so a file of any size takes
// bounded memory.
constexpr std::size_t kMaxBatchChanges = 4096;

// The name messages give the batch file: "(standard input)" for "-".
std::string batchName(std::string_view path);

// Reads path ("-": standard input) with the caller's rights. 0, or the
// exit status after "zorvadmin: FILE:LINE: ..." (or a file error).
int readBatchFile(std::string_view path, std::vector<BatchChange>& changes);

// Parses one line's text into change; null, or why it is refused.
const char* parseBatchLine(std::string_view text, BatchChange& change);

}  // namespace zorv
