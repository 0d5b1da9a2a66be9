// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/sim_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "tools/sample_program.h"

namespace progread::sim {
namespace {

constexpr const char* kUsage = R"(usage: progread-sim [options]

Opens a pseudo-terminal, prints the path of the port to use on the first line of standard
output, and answers every block read request with the 32 bytes of program memory it asks for.
A request with a wrong layout or checksum gets a single NAK (0x15). Runs until it is stopped
(SIGINT or SIGTERM) or the line is closed with --close-after.

Memory:
  --memory FILE       serve FILE as program memory from 0x8000 (at most 32768 bytes; memory
                      past its end reads FF). Without it, a built-in sample program whose
                      end marker stands in block 40 (address 0x8500).
  --blocks N          the built-in sample program, N blocks long (1 to 1024): its end marker
                      stands in block N-1; 41 when not given

Timing:
  --char-us N         microseconds per character on the wire (1042 is 9600 baud, 7E1); 0.
                      Charged for the request's 13 characters as well as the reply's 68, and
                      kept to a clock, so that a block costs 81 characters' time, no more
  --latency-ms N      milliseconds between the end of a request and the start of its reply; 0
  --late K:MS         answer request K MS milliseconds late instead (a list: --late 3:1500,9:2500).
                      Requests that arrive meanwhile are answered after it, in turn.

Faults (K counts requests from 1; each option takes a comma-separated list, --drop 2,5, or
the word all for every request):
  --echo              echo every request back at once, exactly as received (13 characters),
                      before its answer, as a two-wire RS-485 adapter does
  --drop K            do not answer request K
  --nak K             answer request K with a single NAK (0x15), as a controller refusing it
  --corrupt-digit K   change one data digit of reply K (the checksum stays the original's)
  --bad-checksum K    send reply K with a wrong checksum
  --short K           send reply K without its last character
  --other-checksum    form every reply's checksum without ETX, as a controller with a rule of
                      its own might
  --lowercase-checksum
                      write every reply's two checksum digits in lowercase (the value right)
  --noise K           send a few noise characters before reply K
  --nak-noise K       send noise that holds a NAK (NAK, NUL, space) right before reply K
  --parity K          reply K has a NUL (0x00) for one digit: a tty checking parity (INPCK,
                      without IGNPAR and PARMRK) delivers a character received with a parity
                      error as NUL, and the port reads it as "?"
  --lowercase K       reply K has one digit in lowercase
  --glue K            hold reply K back and send it glued to the front of reply K+1
  --twice K           send reply K twice, the copy right after it on the wire
  --twice-gap-ms N    pause between a reply and its copy; 0
  --trailing-stx K    send a single STX (0x02) right after reply K, as the start of a reply
                      that never comes
  --silent-after K    answer the first K requests, then nothing more (0: none at all)
  --stray-before N    put N whole replies on the line at start, before anyone asked
  --stray-after K     send a copy of reply K again, unasked, a little after it
  --chatter-ms N      send an 'A' every N ms all along, as another device or another line
                      speed on the same wire would, whatever the controller does
  --chunk N           send every reply in pieces of N characters, --chunk-gap-ms apart
  --chunk-gap-ms N    pause between pieces; 5
  --close-after K     close the line after answering K requests, then exit
  --change-after K    from request K on, one byte of program memory (the first one, at
                      0x8000) reads differently, as memory changed between two reads would
  --random-faults P   give each request, with probability P per thousand, one fault drawn
                      from those above (dropped, a spoiled digit or checksum, short, noise,
                      a NUL, lowercase, glued, a NAK, or 1.3 s late)
  --seed N            seed for --random-faults; 1

Other:
  --verbose           log every request to standard error
  --help              print this help and exit
)";

[[noreturn]] void usageError(const std::string& what) {
    std::fprintf(stderr, "progread-sim: %s\n(try --help)\n", what.c_str());
    std::exit(2);
}

long number(const std::string& option, const char* text) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (errno || end == text || *end != '\0' || value < 0) {
        usageError(option + " wants a whole number, not \"" + text + "\"");
    }
    return value;
}

std::vector<std::string> split(const std::string& all) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        items.push_back(all.substr(start, comma - start));
        start = comma + 1;
    }
    return items;
}

Picks numberList(const std::string& option, const char* text) {
    Picks picks;
    for (const std::string& item : split(text)) {
        if (item == "all") {
            picks.all = true;
        } else {
            picks.ks.insert(number(option, item.c_str()));
        }
    }
    return picks;
}

// Options that say yes by being there.
constexpr std::pair<const char*, bool Options::*> kFlags[] = {
    {"--verbose", &Options::verbose},
    {"--other-checksum", &Options::otherChecksum},
    {"--lowercase-checksum", &Options::lowercaseChecksum},
    {"--echo", &Options::echo},
};

// Options that pick requests.
constexpr std::pair<const char*, Picks Options::*> kPickOptions[] = {
    {"--drop", &Options::drop},
    {"--corrupt-digit", &Options::corruptDigit},
    {"--bad-checksum", &Options::badChecksum},
    {"--short", &Options::shortReply},
    {"--noise", &Options::noise},
    {"--parity", &Options::parity},
    {"--lowercase", &Options::lowercase},
    {"--glue", &Options::glue},
    {"--nak", &Options::nak},
    {"--twice", &Options::twice},
    {"--trailing-stx", &Options::trailingStx},
    {"--stray-after", &Options::strayAfter},
    {"--nak-noise", &Options::nakNoise},
};

// Options that take a whole number.
constexpr std::pair<const char*, long Options::*> kNumberOptions[] = {
    {"--char-us", &Options::charUs},           {"--latency-ms", &Options::latencyMs},
    {"--twice-gap-ms", &Options::twiceGapMs},  {"--random-faults", &Options::randomPermille},
    {"--silent-after", &Options::silentAfter}, {"--stray-before", &Options::strayBefore},
    {"--chatter-ms", &Options::chatterMs},     {"--chunk", &Options::chunk},
    {"--chunk-gap-ms", &Options::chunkGapMs},  {"--close-after", &Options::closeAfter},
    {"--change-after", &Options::changeAfter},
};

void readMemory(Options& o, const char* file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) usageError(std::string("cannot read ") + file);
    std::vector<char> raw((std::istreambuf_iterator<char>(in)), {});
    if (raw.size() > kProgramMemoryBytes)
        usageError(std::string(file) + " is larger than 32768 bytes");
    o.memory.assign(kProgramMemoryBytes, 0xFF);
    std::copy(raw.begin(), raw.end(), o.memory.begin());
    o.memoryFile = true;
}

void readLate(Options& o, const std::string& option, const char* list) {
    for (const std::string& item : split(list)) {
        const auto colon = item.find(':');
        if (colon == std::string::npos) usageError("--late wants K:MS, not \"" + item + "\"");
        o.lateMs[number(option, item.substr(0, colon).c_str())] =
            number(option, item.substr(colon + 1).c_str());
    }
}

// An option with its value v.
void setOption(Options& o, const std::string& a, const char* v) {
    for (const auto& [name, member] : kPickOptions) {
        if (a == name) {
            o.*member = numberList(a, v);
            return;
        }
    }
    for (const auto& [name, member] : kNumberOptions) {
        if (a == name) {
            o.*member = number(a, v);
            return;
        }
    }
    if (a == "--memory") {
        readMemory(o, v);
    } else if (a == "--blocks") {
        o.blocks = number(a, v);
        if (o.blocks < 1 || o.blocks > static_cast<long>(kMaxSampleBlocks)) {
            const std::string range = "1 to " + std::to_string(kMaxSampleBlocks);
            usageError("--blocks wants " + range + ", not " + v);
        }
    } else if (a == "--late") {
        readLate(o, a, v);
    } else if (a == "--seed") {
        o.seed = static_cast<unsigned long>(number(a, v));
    } else {
        usageError("unknown option " + a);
    }
}

}  // namespace

Options parseOptions(int argc, char** argv) {
    Options o;
    o.memory = sampleProgramMemory();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        const auto flag = std::find_if(std::begin(kFlags), std::end(kFlags),
                                       [&](const auto& f) { return a == f.first; });
        if (flag != std::end(kFlags)) {
            o.*(flag->second) = true;
            continue;
        }
        if (i + 1 >= argc)
            usageError(a == "" ? "empty option" : "unknown option or missing value: " + a);
        setOption(o, a, argv[++i]);
    }
    if (o.blocks > 0) {
        if (o.memoryFile)
            usageError("--blocks is for the built-in sample; --memory brings its own program");
        o.memory = sampleProgramMemory(static_cast<std::size_t>(o.blocks));
    }
    return o;
}

}  // namespace progread::sim
