// What a root tool must settle about its own process before it touches a
// file: descriptors 0 to 2, a set-user-ID caller's environment, ids and
// rights, and standard output as a file that can fail.
#pragma once

#include <sys/types.h>

#include <functional>

namespace zorv {

// A descriptor 0, 1 or 2 that is closed gets /dev/null, so the first file
// the run opens never takes its place.
void openClosedStandardDescriptors();

// Remembers who started the run (real user and group, and whether the run
// is set-user-ID), before anything changes those ids; called first.
void rememberCaller();

// Whether the run started with an effective user or group not the caller's.
bool runsSetUserId();

// The caller's real user and group when the run started.
uid_t callerUid();
gid_t callerGid();

// A set-user-ID run drops the caller's CUPS_*, IPP_PORT, LPDEST and PRINTER
// variables and takes HOME from the effective user, so no scheduler, client
// file or option is picked by the caller; called before anything else.
void forgetCallersEnvironment();

// The commands whose row in the table of commands says so (those that need
// no root) give up a set-user-ID privilege for good (real user and group,
// saved ones included) before they open anything, so they read only what
// the caller could. 0, or -1 after a message.
int giveUpSetUserId();

// A set-user-ID run that may change a file makes every user and group id
// root's before it takes the lock, so that its caller can no longer stop
// or kill it while it holds the lock or commits. 0, or -1 after a message.
int shutOutCaller();

// Runs step with the caller's own rights on files (file-system user and
// group ids), so that what step learns about a path is no more than the
// caller could learn; in a run that is not set-user-ID, just runs it.
// false, and step not run, when the rights could not be taken.
bool withCallersRights(const std::function<void()>& step);

// Flushes standard output; a listing that did not arrive (or had nowhere to
// go) turns status into the file-error status, with a message.
int closeStandardOutput(int status);

}  // namespace zorv
