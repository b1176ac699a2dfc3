// The documents of --json: what --tsv prints as records (the listing, the
// printer devices) and the findings of --check, each as one JSON document
// with named fields and "format": 1. A document is built whole in memory
// and printed at the end, so a run that fails or is refused prints none.
// Every string holds the text --tsv prints for its field (a finding: the
// text --check prints), and moreover every byte that is not valid UTF-8
// as \xNN; a diff keeps its lines and tabs.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "admin/device_survey.h"
#include "admin/listing.h"

namespace zorv {

// The settings and every entry of content, with the spooler's columns
// filled in, as --tsv lists them; with diff (a preview), the change too.
// No content (a quiet preview): the diff alone.
void printListingDocument(ConfigContent* content, const SchedulerState& scheduler,
                          const std::optional<std::string>& diff);

// --devices: the survey's printers, with their links and entries, then the
// entries whose printer is absent, added as a later pass meets them.
class DevicesDocument {
 public:
  explicit DevicesDocument(const DeviceSurvey& survey) : survey_(survey) {}

  void addAbsent(const EntryDevice& entry);
  void print() const;

 private:
  const DeviceSurvey& survey_;
  std::vector<std::array<std::string, 5>> absent_;  // the fields of an entry record
};

struct JsonFinding {
  int line;
  std::string message;
  bool warning;
};

// --check: the findings about file in the order found, and the status.
void printCheckDocument(const std::string& file, const std::vector<JsonFinding>& findings, int status);

}  // namespace zorv
