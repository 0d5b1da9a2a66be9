// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QSettings>

#include "image/portable_file.h"
#include "serial/port_name.h"
#include "ui/port_probe.h"
#include "ui/words.h"

namespace progread {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

QSettings settings() {
    return QSettings(QStringLiteral("progread"), QStringLiteral("progread"));
}

}  // namespace

Form1::Form1(const FileDir& dir, const QString& port, QWidget* parent)
    : QWidget(parent), dir_(dir), station_(dir.path, *this) {
    Words::setAudience(Words::Audience::Window);
    setWindowTitle(QStringLiteral("Form1"));
    setObjectName(QStringLiteral("Form1"));
    makeControls();
    placeControls();
    makePortList(port);
    connectControls();
    station_.Timer1.start();  // runs from start-up; ticks do nothing until the first start
}

Form1::~Form1() {
    Form_Unload();
    // The port closes as the station goes, and the controls lose the focus as QWidget closes
    // the window, both after this window's own members are gone: nothing they say then may
    // reach them.
    station_.MSComm1.disconnect();
    for (QObject* child : findChildren<QObject*>()) child->disconnect(this);
}

bool Form1::Form_Load(QString* error) {
    Text1_Change();  // the stored text is not an edit: nothing is opened until asked
    try {
        const FileReport::Startup startup = FileReport::start(station_, dir_);
        startWarning_ = startup.warning;
        if (!startWarning_.isEmpty()) setStatus(Words::warning(startWarning_), true);
        setFileNote(Words::then(startup.where, startup.notes));
    } catch (const Error& e) {
        if (error) *error = Words::error(e);
        return false;
    }
    return true;
}

void Form1::Command1_Click() {
    if (probing_) return;
    if (const auto candidates = PortProbe::candidates(Text1->text(), portLister_)) {
        // 自动: the port where the controller answers, then the read as if it had been typed.
        probing_ = true;
        ending_ = {};
        Text2->clear();  // the last read's offset is not this read's
        setStatus(Words::lookingForController());
        Command1->setEnabled(false);
        Compare->setEnabled(false);
        // The last read's port stays open, and the search needs every port to itself.
        if (!station_.upload.running()) station_.MSComm1.closePort();
        QList<ProbeResult> tried;
        const auto found = PortProbe::find(*candidates, &tried);  // the window stays painted
        Command1->setEnabled(true);
        Compare->setEnabled(true);
        probing_ = false;
        if (unloaded_) return;  // closed meanwhile
        if (!found) {
            ending_ = {
                Ending::How::Failed, {Words::noControllerAnswered(Words::portsTried(tried))}, {}};
            setStatus({});
            return;
        }
        Text1->setText(*found);
    }
    std::string name;
    try {
        name = portNameFor(Text1->text().toStdString());
    } catch (const Error& e) {
        setStatus(Words::portHint(e), true);
        return;
    }
    station_.changePort(name);  // a read still running on another port stops first
    ending_ = {};
    Text2->clear();  // the last read's offset is not this read's
    elapsed_.start();
    fileNote_.clear();
    secondPassWhy_.clear();
    stopAsked_ = false;
    setStatus(Words::opening(q(station_.MSComm1.portName())));
    starting_ = true;
    station_.upload.Command1_Click();
    starting_ = false;
    setRunning(station_.upload.running());
    const QString notes = Words::fileNotes(station_.image.takeNotes());
    if (!notes.isEmpty()) setFileNote(notes);
}

void Form1::Stop_Click() {
    if (!station_.upload.running()) return;
    stopAsked_ = true;
    // As Ctrl-C stops --read: nothing more is sent, what came is on disk.
    station_.upload.fail(Error(ErrorKind::Serial, "stopped by the operator"));
}

bool Form1::Text1_Change() {
    // A read in progress goes on with its port: what is typed counts from the next start.
    if (station_.upload.running() || probing_) return true;
    if (PortProbe::candidates(Text1->text(), {})) {
        setStatus(Words::pressToSearch());
        return true;
    }
    std::string name;
    try {
        name = portNameFor(Text1->text().toStdString());
    } catch (const Error& e) {
        // Often just a moment in retyping: a hint, and the port stays as it was.
        setStatus(Words::portHint(e), true);
        return false;
    }
    if (name == station_.MSComm1.portName()) {
        if (!ending_.empty()) setStatus({});  // a hint typed away again
        return true;
    }
    station_.changePort(name);
    setStatus(Words::port(q(name)));
    return true;
}

void Form1::Text1_EditingFinished() {
    // A window that is closing opens nothing (the field loses the focus as it goes).
    if (unloaded_ || !portEdited_ || station_.upload.running() || probing_) return;
    portEdited_ = false;
    if (PortProbe::candidates(Text1->text(), {})) return;
    if (!Text1_Change() || station_.MSComm1.PortOpen()) return;
    try {
        station_.MSComm1.openPort();
        notePortSeen(q(station_.MSComm1.portName()));
        if (ending_.empty()) setStatus(Words::portOpen(q(station_.MSComm1.portName())));
    } catch (const Error& e) {
        setStatus(Words::error(e, portLister_), true);
    }
}

void Form1::Form_Unload() {
    if (unloaded_) return;
    unloaded_ = true;
    station_.Timer1.stop();
    try {
        station_.image.close();  // what was read stays; an unfinished image gets no tail
    } catch (const Error&) {
        // Nothing left to tell: the window is going.
    }
}

void Form1::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void Form1::Compare_Click() {
    // history/ holds the earlier reads; before there are any, the dialog would take the missing
    // folder's name for a file name and offer "history".
    std::error_code ec;
    const std::filesystem::path history = dir_.path / kHistoryDir;
    const std::filesystem::path start =
        std::filesystem::is_directory(history, ec) ? history : dir_.path;
    const QString file = QFileDialog::getOpenFileName(this, tr("Compare with a program file"),
                                                      QString::fromStdString(start.string()),
                                                      tr("Program files (*.pmw);;All files (*)"));
    if (!file.isEmpty()) compareWith(std::filesystem::path(file.toStdU16String()));
}

void Form1::compareWith(const std::filesystem::path& file) {
    QString why;
    const QString name = QString::fromStdString(shownPath(file));
    const auto theirs = FileReport::programOf(file, &why);
    bool same = false;
    const QString text =
        theirs ? FileReport::comparedWith(station_.image.imagePath(), *theirs, name, &same, &why)
               : QString();
    // Information, not a fault: a program that differs is what 比较… is for.
    ending_ = {Ending::How::None, {text.isEmpty() ? why : text}, {}};
    setStatus({});
}

void Form1::setRunning(bool running) {
    // 停止 pressed gives the focus back to 读入, not to the port field (it would select the
    // port for typing over).
    if (!running && Stop->hasFocus()) Command1->setFocus();
    Stop->setEnabled(running);
    Compare->setEnabled(!running);
    Busy->setVisible(running);
}

void Form1::showProgress(const std::string& text) {
    Text2->setText(q(text));
}

void Form1::requestSent(long address, int attempt) {
    const UploadSummary& summary = station_.upload.summary();
    QString text =
        secondPassWhy_.isEmpty()
            ? Words::progress(address, summary.programBytes, elapsed_.elapsed(), summary.retries)
            : secondPassWhy_ + QLatin1Char('\n') +
                  Words::secondPass(address, secondFrom_, secondTo_);
    if (attempt > 1) text = Words::then(text, Words::attempt(attempt, Upload::kMaxAttempts));
    setStatus(text);
}

void Form1::waitingForAnswer(long address, long long waitedMs) {
    // Over the progress; the next request's progress takes the line back.
    setStatus(Words::waiting(address, waitedMs));
}

void Form1::replyRejected(long address, const Refusal& refusal) {
    setStatus(Words::rejected(address, refusal), true);
}

void Form1::verifying(long from, long to, bool lostAnswers) {
    secondPassWhy_ =
        Words::verifying(from, to, lostAnswers, station_.upload.summary().earlierReadsAnswers);
    secondFrom_ = from;
    secondTo_ = to;
    setStatus(secondPassWhy_);
}

void Form1::checksumsByAnotherRule() {
    setStatus(Words::checksumsByAnotherRule());
}

void Form1::uploadFinished(const UploadSummary& summary) {
    setRunning(false);
    const std::filesystem::path image = station_.image.imagePath();
    const QString digest = FileReport::sha256(image);
    if (trace_ && !digest.isEmpty()) trace_->note(QStringLiteral("duqu.pmw SHA-256 ") + digest);
    const std::vector<FileNote> notes = station_.image.takeNotes();
    ending_ = {Ending::How::Done,
               Words::summary(summary, elapsed_.elapsed(), station_.upload.verify(),
                              q(image.string()), static_cast<qint64>(station_.image.size())) +
                   FileReport::afterSummary(image, FileReport::earlierImage(notes), 12),
               {}};
    if (!startWarning_.isEmpty()) ending_.warnings << startWarning_;
    setStatus({});
    const QString told = Words::fileNotes(notes);
    if (!told.isEmpty()) setFileNote(told);
    settings().setValue(QStringLiteral("lastPort"), Text1->text().trimmed());
    notePortSeen(q(station_.MSComm1.portName()));
}

void Form1::uploadStopped(const Error& error, bool wasRunning) {
    setRunning(false);
    ending_ = {stopAsked_ ? Ending::How::Stopped : Ending::How::Failed,
               {stopAsked_ ? Words::stoppedByOperator() : Words::error(error, portLister_)},
               {}};
    stopAsked_ = false;
    const QString kept = Words::keptAfterStop(station_.image);
    if ((wasRunning || starting_) && !kept.isEmpty()) ending_.details << kept;
    setStatus({});
}

QString Form1::lastGoodPort() {
    return settings().value(QStringLiteral("lastPort")).toString();
}

QString Form1::initialPort(const PortLister& ports) {
    return initialPortText(lastGoodPort(), ports ? ports() : QList<PortEntry>());
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::FocusIn) refreshPorts();
    return QWidget::eventFilter(watched, event);
}

void Form1::setStatus(const QString& text, bool problem) {
    message_ = text;
    messageProblem_ = problem;
    showStatus();
}

void Form1::setFileNote(const QString& note) {
    fileNote_ = note;
    showStatus();
}

}  // namespace progread
