#include "admin/check_findings.h"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "config/config_format.h"
#include "io/escaping.h"
#include "io/file_descriptor.h"
#include "spooler/printers_conf_scan.h"

namespace zorv {

std::vector<Finding> settingsFindings(const ConfigSettings& settings) {
  std::vector<Finding> findings;
  if (!settings.hasPorts) findings.push_back({0, "no <Ports> line; an add has nowhere to put a new block"});
  if (settings.uiPortLine > 0 && !isPortNumber(settings.uiPortText.view())) {
    findings.push_back({settings.uiPortLine, "UI_Port is not a number from 1 to 65535"});
  }
  const std::string printersConf = printersConfPath(settings.cupsConfigPath.view());
  FileDescriptor readable = openForReading(printersConf);
  if (!readable.valid()) {
    // Root's alone on many systems (0600 root:lp): a fact about the
    // system, not the file.
    findings.push_back({settings.cupsConfigPathLine, "warning: CUPS_ConfigPath: no readable " + printersConf, true});
  }
  for (Finding& finding : findings) finding.rank = Rank::Setting;
  return findings;
}

bool printsBefore(const Finding& a, const Finding& b) { return a.line != b.line ? a.line < b.line : a.rank < b.rank; }

void FindingPrinter::flushThrough(int line) {
  while (nextKnown_ < known_.size() && known_[nextKnown_].line <= line) pending_.push_back(known_[nextKnown_++]);
  std::stable_sort(pending_.begin(), pending_.end(), printsBefore);
  // Those past line (a long block's own, found before it closed) wait.
  const auto past = std::find_if(pending_.begin(), pending_.end(), [line](const Finding& f) { return f.line > line; });
  for (auto finding = pending_.begin(); finding != past; ++finding) {
    wrong_ = wrong_ || !finding->warning || strict_;
    if (json_ != nullptr) {
      json_->push_back({finding->line, finding->message, finding->warning});
      continue;
    }
    // Queue names and paths in a finding are the file's text.
    const std::string message = escaped(finding->message, Escaping::TerminalText);
    std::printf("%s:%d: %s\n", path_.c_str(), finding->line, message.c_str());
  }
  pending_.erase(pending_.begin(), past);
}

}  // namespace zorv
