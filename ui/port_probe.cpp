// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/port_probe.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>

#include "protocol/frames.h"
#include "serial/comm_port.h"
#include "ui/station.h"

namespace progread {

std::optional<QStringList> PortProbe::candidates(const QString& text, const PortLister& ports) {
    const QString t = text.trimmed();
    const bool chinese = t.startsWith(QStringLiteral("自动"));
    if (!chinese && !t.startsWith(QStringLiteral("auto"), Qt::CaseInsensitive)) return {};
    const QString rest = t.mid(chinese ? 2 : 4);
    if (rest.startsWith(QLatin1Char(':')) || rest.startsWith(QStringLiteral("："))) {
        QStringList named;
        for (const QString& p : rest.mid(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            named << p.trimmed();
        return named;
    }
    if (!rest.isEmpty()) return {};  // "automat…": no search, just no port
    QList<PortEntry> all = ports ? ports() : QList<PortEntry>();
    std::stable_sort(all.begin(), all.end(),
                     [](const PortEntry& a, const PortEntry& b) { return a.usb && !b.usb; });
    QStringList paths;
    for (const PortEntry& p : all) paths << p.path;
    return paths;
}

namespace {

ProbeResult outcomeOf(const QString& port, ProbeResult::Outcome outcome) {
    ProbeResult r;
    r.port = port;
    r.outcome = outcome;
    return r;
}

}  // namespace

ProbeResult ProbeResult::cannotOpen(const QString& port, const ErrorFacts& why) {
    ProbeResult r = outcomeOf(port, Outcome::CannotOpen);
    r.openFailure = why.code;
    if (why.code == ErrorFacts::Code::PortPermission) {
        r.group = QString::fromStdString(why.other);
        r.joiningIsEnough = why.count == 1;
    }
    return r;
}

struct PortSearch::Probe {
    QString port;
    std::string name;
    CommPort line;
    QTimer wait;  // for a whole reply to the newest request
    QTimer send;  // a request held back to keep the gap
    bool opened = false;
    bool askedAgain = false;  // the one more request after a loss, a NAK or a malformed reply
    bool twinAsked = false;   // the request for a second copy of a reply summed by another rule
    bool heard = false;       // anything came that was not our own echo
    std::string first;        // a reply summed by another rule, waiting for its twin
    // The line's record: answers still owed (another process's included), and when.
    int out = 0;
    long long recordWaitMs = PortSearch::kWaitMs;
    long long newestRequest = 0;
    long long lastActivity = 0;
    long long lastAsked = 0;
    std::optional<ProbeResult> result;
};

PortSearch::PortSearch(const QStringList& candidates, Until until, LineRecordStore* records,
                       QObject* parent)
    : QObject(parent), until_(until), records_(records) {
    for (const QString& port : candidates) {
        auto p = std::make_unique<Probe>();
        p->port = port;
        p->name = port.toStdString();
        probes_.push_back(std::move(p));
    }
    patience_.setSingleShot(true);
    connect(&patience_, &QTimer::timeout, this, [this] {
        patienceOver_ = true;
        settle();
    });
}

PortSearch::~PortSearch() {
    for (auto& p : probes_) {
        p->line.disconnect(this);
        if (p->line.PortOpen()) p->line.closePort();
    }
}

void PortSearch::start() {
    const long long now = Station::monotonicMs();
    for (auto& owned : probes_) {
        Probe& p = *owned;
        p.line.setCommPort(p.name);
        try {
            p.line.openPort();
        } catch (const Error& e) {
            p.result = ProbeResult::cannotOpen(p.port, e.facts());
            continue;
        }
        p.opened = true;
        p.lastAsked = now - kGapMs;
        if (const auto r = records_ ? records_->load(p.name) : std::nullopt;
            r && now >= r->lastActivityMs &&
            now - r->lastActivityMs < 2 * LineAccount::kMaxWaitMs) {
            // The gap holds across processes too.
            p.lastAsked = std::max(p.lastAsked, std::min(now, r->newestRequestMs));
            // Answers another process still waits for come to us now: still owed, to the record.
            if (r->out > 0) {
                p.out = std::min(r->out, 64);
                p.recordWaitMs = std::max<long long>(kWaitMs, r->waitMs);
                p.newestRequest = r->newestRequestMs;
            }
        }
        p.wait.setSingleShot(true);
        p.send.setSingleShot(true);
        connect(&p.wait, &QTimer::timeout, this, [this, &p] { waitRanOut(p); });
        connect(&p.send, &QTimer::timeout, this, [this, &p] { ask(p); });
        connect(&p.line, &CommPort::charsArrived, this,
                [&p] { p.lastActivity = Station::monotonicMs(); });
        connect(&p.line, &CommPort::OnComm, this, [this, &p] { answerCame(p, p.line.Input()); });
        connect(&p.line, &CommPort::portLost, this, [this, &p](const QString& why) {
            save(p);
            if (!p.result)
                conclude(p, ProbeResult::cannotOpen(p.port, lostError(p.name, why).facts()));
        });
    }
    patience_.start(kWaitMs + kGapMs);
    for (auto& p : probes_) {
        if (!p->result) ask(*p);
    }
    settle();
}

void PortSearch::ask(Probe& p) {
    if (p.result || over_) return;
    const long long now = Station::monotonicMs();
    if (now - p.lastAsked < kGapMs) {
        if (!p.send.isActive()) p.send.start(static_cast<int>(p.lastAsked + kGapMs - now));
        return;
    }
    // Counted before it goes out: a process killed meanwhile still leaves the record right.
    ++p.out;
    p.newestRequest = p.lastActivity = p.lastAsked = now;
    save(p);
    try {
        for (const Byte c : BuildReadRequest(0).chars) p.line.Output(c);
    } catch (const Error& e) {
        conclude(p, ProbeResult::cannotOpen(p.port, e.facts()));
        return;
    }
    p.wait.start(kWaitMs);
}

void PortSearch::answerCame(Probe& p, const std::string& text) {
    if (text.empty()) return;
    const ReadRequest request = BuildReadRequest(0);
    if (text == std::string(request.chars.begin(), request.chars.end())) return;  // our echo
    p.out = std::max(0, p.out - 1);
    p.lastActivity = Station::monotonicMs();
    save(p);
    if (p.result || over_) return;  // still counted: the record must stay right
    p.heard = true;
    if (text.size() == 1 && static_cast<Byte>(text[0]) == kNak) {
        askAgainOrEnd(p);
        return;
    }
    const ReplyCheck check = checkReply(text);
    if (check || text == p.first) {
        conclude(p, outcomeOf(p.port, ProbeResult::Outcome::Answered));
        return;
    }
    if (check.fault != ReplyFault::ChecksumMismatch) {
        askAgainOrEnd(p);
        return;
    }
    // Whole but summed by another rule: a second, identical reply will do.
    p.first = text;
    if (!p.twinAsked) {
        p.twinAsked = true;
        ask(p);
    } else if (p.out == 0) {
        askAgainOrEnd(p);
    }
}

void PortSearch::askAgainOrEnd(Probe& p) {
    if (!p.askedAgain) {
        p.askedAgain = true;
        ask(p);
    } else if (p.out == 0 && !p.send.isActive()) {
        conclude(p, outcomeOf(p.port, ProbeResult::Outcome::NotAController));
    }
}

void PortSearch::waitRanOut(Probe& p) {
    if (p.result || over_) return;
    if (!p.askedAgain) {
        p.askedAgain = true;
        ask(p);
        return;
    }
    conclude(p, outcomeOf(p.port, p.heard ? ProbeResult::Outcome::NotAController
                                          : ProbeResult::Outcome::NoAnswer));
}

void PortSearch::conclude(Probe& p, ProbeResult result) {
    p.result = std::move(result);
    p.wait.stop();
    p.send.stop();
    // Not from inside the port's own notification: the ports close once the search is over.
    QTimer::singleShot(0, this, &PortSearch::settle);
}

void PortSearch::save(Probe& p) {
    if (!records_ || !p.opened) return;
    records_->save(p.name, {p.newestRequest, p.out, p.recordWaitMs,
                            std::max(p.lastActivity, p.newestRequest)});
}

void PortSearch::settle() {
    if (over_) return;
    const auto answered = [](const std::unique_ptr<Probe>& p) {
        return p->result && p->result->outcome == ProbeResult::Outcome::Answered;
    };
    const int n = static_cast<int>(probes_.size());
    if (until_ == Until::EveryOutcome) {
        for (const auto& p : probes_) {
            if (!p->result) return;
        }
        finish(-1);
        return;
    }
    const auto first = std::find_if(probes_.begin(), probes_.end(), answered);
    const int firstAnswered =
        first == probes_.end() ? -1 : static_cast<int>(first - probes_.begin());
    for (int i = 0; i < n; ++i) {
        if (i == firstAnswered) {
            finish(i);
            return;
        }
        // A port still waiting is preferred only while its first request may be answered: a
        // port that answered at once is not kept waiting for another one's second request.
        if (!probes_[static_cast<std::size_t>(i)]->result && !(firstAnswered >= 0 && patienceOver_))
            return;
    }
    finish(-1);
}

void PortSearch::finish(int found) {
    over_ = true;
    patience_.stop();
    const int n = static_cast<int>(probes_.size());
    for (int i = 0; i < n; ++i) {
        Probe& p = *probes_[static_cast<std::size_t>(i)];
        p.wait.stop();
        p.send.stop();
        if (p.line.PortOpen()) {
            save(p);  // with what was heard since the last answer
            p.line.closePort();
        }
        if (found >= 0 && i > found) continue;
        tried_ << (p.result ? *p.result
                            : outcomeOf(p.port, p.heard ? ProbeResult::Outcome::NotAController
                                                        : ProbeResult::Outcome::NoAnswer));
    }
    if (found >= 0) found_ = probes_[static_cast<std::size_t>(found)]->port;
    emit done();
}

namespace {

// The search on a loop of its own, the line's record kept where every read looks for it.
QList<ProbeResult> search(const QStringList& ports, PortSearch::Until until,
                          std::optional<QString>* found) {
    LineRecordFiles records(Station::lineRecordFolders());
    PortSearch search(ports, until, &records);
    QEventLoop loop;
    QObject::connect(&search, &PortSearch::done, &loop, &QEventLoop::quit);
    search.start();
    if (!search.over()) loop.exec();
    if (found) *found = search.found();
    return search.tried();
}

}  // namespace

std::optional<QString> PortProbe::find(const QStringList& candidates, QList<ProbeResult>* tried) {
    std::optional<QString> found;
    const QList<ProbeResult> all = search(candidates, PortSearch::Until::FirstAnswer, &found);
    if (tried) *tried = all;
    return found;
}

QList<ProbeResult> PortProbe::probeEach(const QStringList& ports) {
    return search(ports, PortSearch::Until::EveryOutcome, nullptr);
}

QString PortProbe::column(const ProbeResult& result) {
    switch (result.outcome) {
        case ProbeResult::Outcome::Answered:
            return QStringLiteral("answered");
        case ProbeResult::Outcome::NoAnswer:
            return QStringLiteral("no answer");
        case ProbeResult::Outcome::NotAController:
            return QStringLiteral("not a controller");
        case ProbeResult::Outcome::CannotOpen:
            break;
    }
    switch (result.openFailure) {
        case ErrorFacts::Code::PortNotFound:
            return QStringLiteral("cannot open: no such device");
        case ErrorFacts::Code::PortPermission:
            if (result.group.isEmpty()) return QStringLiteral("cannot open: permission denied");
            return result.joiningIsEnough
                       ? QStringLiteral("cannot open: permission denied (group %1)")
                             .arg(result.group)
                       : QStringLiteral("cannot open: permission denied (root only)");
        case ErrorFacts::Code::PortBusy:
        case ErrorFacts::Code::PortAlreadyOpen:
            return QStringLiteral("cannot open: in use");
        case ErrorFacts::Code::PortWriteFailed:
            return QStringLiteral("cannot open: cannot write to it");
        case ErrorFacts::Code::PortLost:
            return QStringLiteral("cannot open: went away");
        default:
            return QStringLiteral("cannot open");
    }
}

}  // namespace progread
