#pragma once

// The figures of a read in words, the same in the window and in --read.

#include <QCoreApplication>
#include <QString>

#include "protocol/error.h"
#include "ui/port_list.h"
#include "upload/links.h"

namespace progread {

class Words {
    Q_DECLARE_TR_FUNCTIONS(Words)

public:
    // Two sentences in a row (no space between them in Chinese).
    static QString then(const QString& first, const QString& second);
    // "0x8040"
    static QString address(long address);
    // Block, bytes so far, rate, elapsed time, retries: the status line while reading.
    static QString progress(long address, long bytes, qint64 elapsedMs, int retries);
    // The outcome of a finished read, the image's path and size included.
    static QString summary(const UploadSummary& summary, qint64 elapsedMs, bool verified,
                           const QString& imagePath, qint64 imageBytes);
    // "waiting for the answer to block 0x8120, 4 s": a long wait, in whole seconds.
    static QString waiting(long address, long long waitedMs);
    // Why a reply was refused.
    static QString refusal(const Refusal& refusal);
    // An error in the operator's language, with what to check, after its kind. ports lists
    // the ports the system has, named when the one asked for is missing.
    static QString error(const Error& error, const PortLister& ports = systemPorts);
    // The same without the kind.
    static QString errorBody(const Error& error, const PortLister& ports = systemPorts);
    // Bytes a second, 0 until the clock has moved.
    static long rate(long bytes, qint64 elapsedMs);
};

}  // namespace progread
