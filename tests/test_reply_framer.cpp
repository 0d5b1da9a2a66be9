// SPDX-License-Identifier: GPL-3.0-or-later
// What the port hands the upload, however the characters were chunked.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frame_samples.h"
#include "protocol/frames.h"
#include "protocol/reply_framer.h"

using namespace progread;
using namespace progread::testing;

TEST(ReplyFramer, CutsAnswersAtTheirLengthAndAtEveryStx) {
    const std::string a = BuildBlockReply(block(1));
    const std::string b = BuildBlockReply(block(2));
    const std::string stx = "\x02", nak = "\x15";
    struct Row {
        const char* what;
        std::string line;
        std::vector<std::string> answers;
        std::string torn;  // the frame left waiting
    } rows[] = {
        {"one reply", a, {a}, ""},
        {"two glued, the third begun", a + b + b.substr(0, 30), {a, b}, b.substr(0, 30)},
        {"noise before a reply", bytes({0x7F, '#', ' '}) + a, {a}, ""},
        {"a NAK standing alone is an answer", nak, {nak}, ""},
        {"a NAK followed by more is noise", nak + bytes({'?', ' '}) + a, {a}, ""},
        {"a stray STX before a reply costs nothing but itself", stx + a, {stx, a}, ""},
        {"a stray STX after a reply waits for the next", a + stx, {a}, stx},
        {"a reply cut short by the next", a.substr(0, 67) + b, {a.substr(0, 67), b}, ""},
        {"a half-duplex echo before the answer",
         "\x02"
         "E018000"
         "20\x03"
         "D3" +
             a,
         {"\x02"
          "E018000"
          "20\x03"
          "D3",
          a},
         ""},
        {"the tail of an abandoned reply", a.substr(20) + b, {b}, ""},
        {"a reply one too long", a + "0" + b, {a, b}, ""},
        {"noise between two replies", a + bytes({0x7F, '#', ' ', '0', 0x03}) + b, {a, b}, ""},
        {"noise after the last reply", a + bytes({'#', 'A', '0'}), {a}, ""},
        {"a NAK inside a frame is no answer of its own",
         a.substr(0, 10) + nak + a.substr(10),
         {(a.substr(0, 10) + nak + a.substr(10)).substr(0, 68)},
         ""},
    };
    for (const Row& row : rows) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{7}, row.line.size()}) {
            ReplyFramer framer;
            std::vector<std::string> got;
            for (std::size_t at = 0; at < row.line.size(); at += piece) {
                framer.feed(std::string_view(row.line).substr(at, piece));
                while (framer.hasReply()) got.push_back(framer.takeReply());
            }
            framer.settle();  // the line fell quiet
            while (framer.hasReply()) got.push_back(framer.takeReply());
            EXPECT_EQ(got, row.answers) << row.what << ", in pieces of " << piece;
            EXPECT_EQ(framer.takeTorn(), row.torn) << row.what;
            EXPECT_EQ(framer.pending(), 0u) << row.what;
        }
    }

    ReplyFramer flood;
    flood.feed(std::string(5000, '\x02'));
    EXPECT_LE(flood.pending(), ReplyFramer::kCapacity + kReplyLength)
        << "whole answers and one frame";
}
