#pragma once
// Time packets (TOT/TDT on PID 0x0014) and their re-stamping, which the
// simulated tuner uses to make a recorded stream tell a different clock.
#include "jst_clock.h"
#include "ts_packets.h"

namespace oneseg::synth {

// One packet carrying the TOT (or TDT) of `now`, pointer_field 0.
Packet tot_packet(JstSeconds now, ContinuityCounters& cc);
Packet tdt_packet(JstSeconds now, ContinuityCounters& cc);

// When `packet` is a PID 0x0014 packet starting a TOT or TDT section that
// lies wholly inside it, writes `now` into its JST_time, recomputes the TOT's
// CRC_32 (a TOT whose CRC was bad before stays bad) and returns true;
// otherwise leaves the packet untouched and returns false.
bool restamp_time_packet(Packet& packet, JstSeconds now);

}  // namespace oneseg::synth
