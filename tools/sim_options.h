// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// progread-sim's command line: what the simulated controller is told to be and to do.

#include <map>
#include <set>
#include <vector>

#include "protocol/frames.h"

namespace progread::sim {

// The requests an option picks: some by number, or all of them.
struct Picks {
    std::set<long> ks;
    bool all = false;
    // k 0 is no request (a stray reply): "all" does not pick it.
    bool has(long k) const { return all ? k > 0 : ks.count(k) > 0; }
};

struct Options {
    std::vector<Byte> memory;
    bool memoryFile = false;
    long blocks = 0;
    long charUs = 0;
    long latencyMs = 0;
    Picks drop, corruptDigit, badChecksum, shortReply, noise, parity, lowercase, glue, strayAfter,
        nak, twice, trailingStx, nakNoise;
    long twiceGapMs = 0;
    bool echo = false;
    bool lowercaseChecksum = false;
    long silentAfter = -1;  // none: answers every request
    long randomPermille = 0;
    unsigned long seed = 1;
    long strayBefore = 0;
    std::map<long, long> lateMs;
    bool otherChecksum = false;
    long chatterMs = 0;
    long chunk = 0;
    long chunkGapMs = 5;
    long closeAfter = 0;
    long changeAfter = 0;
    bool verbose = false;
};

// The options of argv; prints the help and exits 0 for --help, a usage error and exits 2 for
// anything it cannot take.
Options parseOptions(int argc, char** argv);

}  // namespace progread::sim
