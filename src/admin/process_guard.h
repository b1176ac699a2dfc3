// What a root tool must settle about its own process before it touches a
// file: descriptors 0 to 2, a set-user-ID caller's environment, and
// standard output as a file that can fail.
#pragma once

namespace zorv {

// A descriptor 0, 1 or 2 that is closed gets /dev/null, so the first file
// the run opens never takes its place.
void openClosedStandardDescriptors();

// A set-user-ID run takes nothing from its caller: no scheduler, client
// files or options picked by the caller's environment.
void forgetCallersEnvironment();

// Flushes standard output; a listing that did not arrive (or had nowhere to
// go) turns status into the file-error status, with a message.
int closeStandardOutput(int status);

}  // namespace zorv
