// How long a run waits on others (another run's lock, the scheduler): fixed
// defaults that tests and impatient scripts may shorten or lengthen through
// the environment.
#pragma once

namespace zorv {

// The whole seconds that variable holds, from 1 to 3600; fallback when it is
// unset or holds anything else. A bad value is ignored without a word rather
// than refused: the budget is no reason to stop a run, and the default is
// what the run would have used anyway. secure_getenv makes a set-user-ID
// run keep the default.
int timeoutSeconds(const char* variable, int fallback);

}  // namespace zorv
