// The printed listing of the settings and the printer entry table.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "config/config_pass.h"

namespace zorv {

// The backend and FIFO path columns of the first rows entries, from one
// pass over CUPS's own printers.conf.
void fillSpoolerColumns(ConfigContent& content, std::size_t rows);

enum class SchedulerState { Reached, Unreachable };

// An entry whose queue could not be checked reads "unchecked", never
// "invalid Spool Name": the scheduler did not say so.
// The listing of content with the spooler's columns filled in: the
// classic listing, or the TSV records.
void printResult(ConfigContent& content, SchedulerState scheduler, bool tsv);

void printListing(const ConfigContent& content, SchedulerState scheduler, std::FILE* out = stdout);

// The listing for scripts: tab-separated records of the settings, then one
// per block of the file in file order, no padding, no 16-row limit; a tab,
// newline or backslash inside a field is written as \t, \n or \\.
// One field of a TSV record: a tab, newline or backslash as \t, \n or \\.
std::string tsvField(std::string_view field);

void printTsvListing(const ConfigContent& content, SchedulerState scheduler, std::FILE* out = stdout);

}  // namespace zorv
