#pragma once

namespace skerrow {

// SIGINT and SIGTERM only raise a flag: the run notices it between two buffer
// fills (and during its waits), removes its unfinished outputs and its log,
// and then ends by that signal, as if it had not caught it.
void catch_stop_signals();

// The stop signal caught, or 0.
int caught_stop_signal();

// Ends the process by the caught signal with its default action; returns
// only when none was caught.
void end_by_caught_signal();

}  // namespace skerrow
