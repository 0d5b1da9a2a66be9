// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Finding the controller's port: every candidate is opened (and held alone) at 9600 7E1 and
// asked for block 0, all of them at once on the one event loop, so that the search costs one
// wait however many ports there are. The line's record per port is kept as a read keeps it:
// an answer the search gave up on is still owed, and the read after it must know.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "protocol/error.h"
#include "ui/port_list.h"
#include "upload/line_account.h"

namespace progread {

struct ProbeResult {
    enum class Outcome { Answered, NoAnswer, NotAController, CannotOpen };
    QString port;
    Outcome outcome = Outcome::NoAnswer;
    // CannotOpen: why (PortBusy, PortPermission, PortNotFound, PortWriteFailed, …)
    ErrorFacts::Code openFailure = ErrorFacts::Code::Other;
    // PortPermission: the group that may open the port, and whether joining it is enough
    // (else only root may, until a udev rule gives the device to that group).
    QString group;
    bool joiningIsEnough = true;

    static ProbeResult cannotOpen(const QString& port, const ErrorFacts& why);
};

class PortSearch : public QObject {
    Q_OBJECT

public:
    // A whole reply is awaited this long: the slowest controller this tool reads answers in
    // 2.5 s, and its reply takes 70 ms more on the wire.
    static constexpr int kWaitMs = 2600;
    // Never two requests on one port closer together than the read's own pace.
    static constexpr int kGapMs = 100;

    enum class Until {
        // The first port in the candidates' order that answered within the first wait; one
        // that answers only when asked again is taken when no port before it answered.
        FirstAnswer,
        // Every port's outcome (--list-ports --probe).
        EveryOutcome,
    };

    // records: the line's record per port (null: none kept).
    PortSearch(const QStringList& candidates, Until until, LineRecordStore* records,
               QObject* parent = nullptr);
    ~PortSearch() override;

    // Opens every candidate and asks each; done() comes once the search is over (at once
    // when there is nothing to wait for).
    void start();
    bool over() const { return over_; }
    std::optional<QString> found() const { return found_; }
    // In the candidates' order: every port up to the one found, or all.
    QList<ProbeResult> tried() const { return tried_; }

signals:
    void done();

private:
    struct Probe;
    void ask(Probe& p);
    void answerCame(Probe& p, const std::string& text);
    void waitRanOut(Probe& p);
    void askAgainOrEnd(Probe& p);
    void conclude(Probe& p, ProbeResult result);
    void save(Probe& p);
    void settle();
    void finish(int found);

    Until until_;
    LineRecordStore* records_;
    std::vector<std::unique_ptr<Probe>> probes_;
    QTimer patience_;
    bool patienceOver_ = false;
    bool over_ = false;
    std::optional<QString> found_;
    QList<ProbeResult> tried_;
};

class PortProbe {
public:
    // The ports "auto" stands for, USB adapters first; "auto:/dev/a,/dev/b" names its own.
    // Nothing when text asks for no search.
    static std::optional<QStringList> candidates(const QString& text, const PortLister& ports);
    // The search, on an event loop of its own until it is over (the window stays painted).
    static std::optional<QString> find(const QStringList& candidates, QList<ProbeResult>* tried);
    // Each port's outcome, for --list-ports --probe.
    static QList<ProbeResult> probeEach(const QStringList& ports);
    // For --list-ports --probe: "answered", "no answer", "cannot open: in use", …
    static QString column(const ProbeResult& result);
};

}  // namespace progread
