// The findings of --check and their printing: in line order as the pass
// goes, holding only what one block has not yet closed on.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <string>
#include <vector>

#include "admin/json_output.h"
#include "config/config_pass.h"

namespace zorv {

// Findings are printed by line; at one line, those about the line itself
// come first, then the settings, then the block that opens there, then the
// printer its device path leads to.
enum class Rank { Line, Setting, Entry, Device };

struct Finding {
  int line;
  std::string message;
  bool warning = false;
  Rank rank = Rank::Entry;
};

// The findings about the settings and the printers.conf they name.
std::vector<Finding> settingsFindings(const ConfigSettings& settings);

bool printsBefore(const Finding& a, const Finding& b);

// Prints findings in line order as the pass goes: those met since the last
// block closed wait for it, as the block's own finding precedes the lines
// inside it. Memory holds one block's findings, whatever the file's size;
// the findings known before the pass (settings, printers) join in order.
class FindingPrinter {
 public:
  // With json, the findings are kept for the document instead.
  FindingPrinter(std::string path, std::vector<Finding> known, bool strict, std::vector<JsonFinding>* json = nullptr)
      : path_(std::move(path)), known_(std::move(known)), strict_(strict), json_(json) {
    std::stable_sort(known_.begin(), known_.end(), printsBefore);
  }

  void add(Finding finding) { pending_.push_back(std::move(finding)); }
  std::size_t pendingCount() const { return pending_.size(); }

  // Prints what is pending, and the findings known before, through line.
  void flushThrough(int line);

  void flushAll() { flushThrough(INT_MAX); }
  bool wrong() const { return wrong_; }

 private:
  std::string path_;
  std::vector<Finding> known_;
  bool strict_;  // warnings count as errors
  std::vector<JsonFinding>* json_;
  std::size_t nextKnown_ = 0;
  std::vector<Finding> pending_;
  bool wrong_ = false;
};

}  // namespace zorv
