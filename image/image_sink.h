// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/frames.h"

namespace progread {

// Where an upload puts what it decodes. Every call may raise an Error of kind File.
class ImageSink {
public:
    virtual ~ImageSink() = default;
    virtual void appendPair(BytePair pair) = 0;
    virtual void appendTail() = 0;
    // Begins a new read from the header alone: a new upload never lands behind an old one.
    virtual void restart() = 0;
    virtual void flush() = 0;
    // The read is complete (its tail appended): make it the image others may open.
    virtual void publish() = 0;
};

}  // namespace progread
