// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Plays a script of line events (answers in arbitrary chunks, noise, late and lost answers,
// ticks, starts, a lost port) against the real ReplyFramer and Upload, with a controller on
// simulated time and an in-memory image, and checks what reached the image:
//   - every block written is the decoding of a reply that passed the checks (or the twin of
//     the reply before it, for a checksum by another rule);
//   - when the script kept the controller faithful (every answer the right one, in turn,
//     however late, or lost; no spoiled answer, no noise that could start a reply), an
//     upload that finished holds exactly the controller's blocks up to the end marker, then
//     the tail.
// The fuzzer drives it; the tests replay the seeds and a batch of random scripts.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace progread::fuzz {

struct ScriptResult {
    std::optional<std::string> violation;  // what the oracle found wrong, if anything
    bool faithful = false;
    int finished = 0;  // uploads that finished
    int stopped = 0;
};

ScriptResult runScript(const std::uint8_t* data, std::size_t size);

}  // namespace progread::fuzz
