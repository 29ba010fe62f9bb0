#pragma once

namespace oneseg {

// Factor applied to every fixed wait of the programs (stability waits, polls,
// device settling times). 1 in normal use; tests may set the environment
// variable ONESEG_TIME_SCALE (for example 0.01) to shorten them all at once.
double time_scale();

// A wait of `ms` milliseconds as the programs should really wait it.
int scaled_ms(int ms);

}  // namespace oneseg
