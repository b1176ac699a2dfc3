// Command-line parsing: the long options that may lead the command line,
// described by one table (operand, what each goes with, help line), then
// the classic options, parsed by their own small parser as they always were.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "admin/context.h"

namespace zorv {

// Every position but the last is examined, in steps of one, by its first
// two characters: "-p" and "-x" take the next argument as the queue name
// (add and remove), "-o" as the device path. A later option wins.
void parseOptions(int argc, const char* const* argv, AdminContext& context);

// What parseOptions ignores of the same arguments, or takes where another
// meaning is likely, one sentence each for a warning: an argument never
// read, "-pQ1" read as -p, an option taken as an operand, -o without -p.
// Empty for a run without arguments.
std::vector<std::string> classicNotes(int argc, const char* const* argv);

enum class RunMode { Classic, Check, Get, Restore, Devices, Set, Help, Version, Batch, StableNames };

struct LongOptions {
  RunMode mode = RunMode::Classic;
  std::string_view checkFile;  // --check FILE; empty for the configuration
  std::string_view getQueue;   // --get QUEUE
  std::string_view setKey;     // --set KEY VALUE
  std::string_view setValue;
  std::string_view batchFile;  // --batch FILE; "-" for standard input
  std::string_view configFile;  // -f FILE or --config FILE; empty for ZORV_CONF or /etc/zorv.conf
  bool dryRun = false;
  bool tsv = false;   // output for scripts: --tsv, or --json (which sets both)
  bool json = false;  // --json: one JSON document in place of the TSV records
  bool quiet = false;
  bool strict = false;  // --check: warnings count as errors
};

struct ParsedCommandLine {
  bool usable = true;           // false: refused with the usage text, status 2
  std::string problem;          // why, when not usable
  LongOptions options;
  // The classic part: the program name, then what follows the long options.
  std::vector<const char*> classicArguments;
};

// Arguments at the start that begin with "--" (or are "-f", --config's
// short name) are long options, up to the
// first that does not (a bare "--" ends them and is dropped). --check takes
// the next argument as its file unless it begins with "-"; --get always
// takes the next argument; both also take "=VALUE". The first unknown
// option, or the first that cannot go with what came before, makes the
// command line unusable, and so do options that the table says cannot go
// together.
ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// The usage text, printed by a run without arguments and after a refused
// command line; the help text is the usage and every option.
void printUsage(std::FILE* out);
// The usage on standard error after a refused command line, with where the
// long options are told of.
void printRefusedUsage();
void printHelp();

}  // namespace zorv
