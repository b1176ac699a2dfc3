// What a root tool must settle about its own process before it touches a
// file: descriptors 0 to 2, a set-user-ID caller's environment, and
// standard output as a file that can fail.
#pragma once

namespace zorv {

// A descriptor 0, 1 or 2 that is closed gets /dev/null, so the first file
// the run opens never takes its place.
void openClosedStandardDescriptors();

// Whether the run's effective user or group is not the caller's.
bool runsSetUserId();

// A set-user-ID run drops the caller's CUPS_*, IPP_PORT, LPDEST and PRINTER
// variables and takes HOME from the effective user, so no scheduler, client
// file or option is picked by the caller; called before anything else.
void forgetCallersEnvironment();

// The questions that need no root give up a set-user-ID privilege for good
// (real user and group, saved ones included) before they open anything, so
// they read only what the caller could. 0, or -1 after a message.
int giveUpSetUserId();

// Flushes standard output; a listing that did not arrive (or had nowhere to
// go) turns status into the file-error status, with a message.
int closeStandardOutput(int status);

}  // namespace zorv
