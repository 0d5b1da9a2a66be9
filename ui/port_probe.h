// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Finding the controller's port: each candidate port is opened (and held alone) at 9600 7E1,
// asked for block 0, and closed again; the first that answers as a controller does is the one.

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "protocol/error.h"
#include "ui/port_list.h"

namespace progread {

struct ProbeResult {
    enum class Outcome { Answered, NoAnswer, NotAController, CannotOpen };
    QString port;
    Outcome outcome = Outcome::NoAnswer;
    // CannotOpen: why (PortBusy, PortPermission, PortNotFound, PortWriteFailed, …)
    ErrorFacts::Code openFailure = ErrorFacts::Code::Other;
};

class PortProbe {
public:
    // The ports "auto" stands for, USB adapters first; "auto:/dev/a,/dev/b" names its own.
    // Nothing when text asks for no search.
    static std::optional<QStringList> candidates(const QString& text, const PortLister& ports);
    // One request for block 0, asked again once when the reply is whole but its checksum
    // follows another rule: a well-formed reply, or two identical ones, is an answer.
    static ProbeResult probe(const QString& port, int ms = 1500);
    // Each candidate in turn until one answers; every port tried is in tried.
    static std::optional<QString> find(const QStringList& candidates, QList<ProbeResult>* tried);
    // For --list-ports --probe: "answered", "no answer", …
    static QString column(const ProbeResult& result);
};

}  // namespace progread
