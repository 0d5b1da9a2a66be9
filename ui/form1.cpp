// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/form1.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCompleter>
#include <QFileDialog>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStandardItemModel>

#include "image/portable_file.h"
#include "serial/port_name.h"
#include "ui/port_probe.h"
#include "ui/words.h"

namespace progread {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kDesignedWidth = 6750;  // twips
constexpr int kDesignedHeight = 5250;
constexpr int kStatusTop = 3720;
constexpr int kStatusHeight = 1440;

QSettings settings() {
    return QSettings(QStringLiteral("progread"), QStringLiteral("progread"));
}

}  // namespace

PortField::PortField(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);  // Enter opens the port, it adds nothing to the list
    setMaxVisibleItems(12);
}

void PortField::showPopup() {
    const QString typed = currentText();
    emit aboutToShowPorts();
    setEditText(typed);  // reading the list again keeps what the operator typed
    QComboBox::showPopup();
}

Form1::Form1(const FileDir& dir, const QString& port, QWidget* parent)
    : QWidget(parent), dir_(dir), station_(dir.path, *this) {
    Words::setAudience(Words::Audience::Window);
    setWindowTitle(QStringLiteral("Form1"));
    setObjectName(QStringLiteral("Form1"));

    Command1 = new QPushButton(QStringLiteral("读入"), this);
    Stop = new QPushButton(QStringLiteral("停止"), this);
    Compare = new QPushButton(QStringLiteral("比较…"), this);
    Text1 = new PortField(this);
    Label1 = new QLabel(QStringLiteral("串口号"), this);
    Text2 = new QLineEdit(this);
    Label2 = new QLabel(QStringLiteral("程序步"), this);
    Status = new QLabel(this);
    Busy = new QProgressBar(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Stop->setObjectName(QStringLiteral("Stop"));
    Compare->setObjectName(QStringLiteral("Compare"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Text2->setObjectName(QStringLiteral("Text2"));
    Label2->setObjectName(QStringLiteral("Label2"));
    Status->setObjectName(QStringLiteral("Status"));
    Busy->setObjectName(QStringLiteral("Busy"));
    Status->setWordWrap(true);
    Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Text1->setToolTip(
        tr("Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0"));
    Stop->setToolTip(tr("Stop the read (Esc); the blocks read so far are kept"));
    Compare->setToolTip(tr("Compare the program read with a saved program file"));
    // The program's length is not known until its end marker comes: busy, not a percentage.
    Busy->setRange(0, 0);
    Busy->setTextVisible(false);
    Busy->hide();

    // The stored layout, in twips. The port field is wide enough for a device path; 停止 sits
    // beside 读入, the busy bar beside 程序步, and the status line under the controls, with
    // room for where files went.
    setFixedSize(tw(kDesignedWidth), tw(kDesignedHeight));
    Command1->setGeometry(tw(2160), tw(3120), tw(1417), tw(481));
    Stop->setGeometry(tw(3720), tw(3120), tw(1417), tw(481));
    Compare->setGeometry(tw(5280), tw(3120), tw(1230), tw(481));
    Text1->setGeometry(tw(3000), tw(1440), tw(2400), tw(375));
    Label1->setGeometry(tw(1920), tw(1560), tw(855), tw(375));
    Text2->setGeometry(tw(3000), tw(2040), tw(855), tw(375));
    Label2->setGeometry(tw(1920), tw(2160), tw(615), tw(375));
    Busy->setGeometry(tw(3990), tw(2100), tw(1410), tw(255));
    Status->setGeometry(tw(240), tw(kStatusTop), tw(6270), tw(kStatusHeight));

    // The list shows each port with its description; the completer offers the paths as they
    // are typed.
    portModel_ = new QStandardItemModel(this);
    Text1->setModel(portModel_);
    completer_ = new QCompleter(portModel_, this);
    completer_->setCompletionRole(kPathRole);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    Text1->setCompleter(completer_);
    Text1->setText(port);
    Text1->installEventFilter(this);

    setTabOrder(Command1, Stop);
    setTabOrder(Stop, Text1);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Compare);
    Label1->setFocusPolicy(Qt::NoFocus);
    Label2->setFocusPolicy(Qt::NoFocus);
    Command1->setDefault(true);
    Command1->setFocus();
    Stop->setEnabled(false);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Stop, &QPushButton::clicked, this, &Form1::Stop_Click);
    connect(Compare, &QPushButton::clicked, this, &Form1::Compare_Click);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (Text1->view()->isVisible()) return;  // Esc closes the open list first
        Stop_Click();
    });
    connect(Text1, &PortField::aboutToShowPorts, this, &Form1::refreshPorts);
    connect(Text1->lineEdit(), &QLineEdit::textEdited, this, [this] {
        portEdited_ = true;
        Text1_Change();
    });
    connect(Text1->lineEdit(), &QLineEdit::editingFinished, this, &Form1::Text1_EditingFinished);
    // A port picked from the list: the field gets its path alone, and it counts as typed.
    connect(Text1, &QComboBox::activated, this, [this](int row) {
        const QString path = Text1->itemData(row, kPathRole).toString();
        if (!path.isEmpty()) Text1->setText(path);
        portEdited_ = true;
        Text1_Change();
        Text1_EditingFinished();
    });
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

int Form1::tw(int twips) const {
    // 15 twips a pixel at 96 dpi, scaled for the screen.
    const qreal dpi = screen() ? screen()->logicalDotsPerInch() : 96.0;
    return qRound(twips / 15.0 * dpi / 96.0);
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
            endText_ = Words::noControllerAnswered(Words::portsTried(tried));
            setStatus(endText_, true);
            return;
        }
        Text1->setText(*found);
    }
    std::string name;
    try {
        name = portNameFor(Text1->text().toStdString());
    } catch (const Error& e) {
        setStatus(Words::then(endText_, Words::portHint(e)), true);
        return;
    }
    station_.changePort(name);  // a read still running on another port stops first
    endText_.clear();
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
        setStatus(Words::then(endText_, Words::pressToSearch()), !endText_.isEmpty());
        return true;
    }
    std::string name;
    try {
        name = portNameFor(Text1->text().toStdString());
    } catch (const Error& e) {
        // Often just a moment in retyping: a hint, and the port stays as it was.
        setStatus(Words::then(endText_, Words::portHint(e)), true);
        return false;
    }
    if (name == station_.MSComm1.portName()) {
        if (!endText_.isEmpty()) setStatus(endText_, true);  // a hint typed away again
        return true;
    }
    station_.changePort(name);
    setStatus(Words::then(endText_, Words::port(q(name))), !endText_.isEmpty());
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
        if (endText_.isEmpty()) {
            setStatus(Words::portOpen(q(station_.MSComm1.portName())));
        }
    } catch (const Error& e) {
        setStatus(Words::then(endText_, Words::error(e, portLister_)), true);
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
    const QString file =
        QFileDialog::getOpenFileName(this, tr("Compare with a program file"),
                                     QString::fromStdString((dir_.path / kHistoryDir).string()),
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
    endText_ = text.isEmpty() ? why : text;
    setStatus(endText_, !same);
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
    const QString figures =
        Words::then(Words::summary(summary, elapsed_.elapsed(), station_.upload.verify(),
                                   q(image.string()), static_cast<qint64>(station_.image.size())),
                    FileReport::afterSummary(image, FileReport::earlierImage(notes), 12));
    endText_ = Words::done(figures, startWarning_);
    setStatus(endText_, !startWarning_.isEmpty());
    const QString told = Words::fileNotes(notes);
    if (!told.isEmpty()) setFileNote(told);
    settings().setValue(QStringLiteral("lastPort"), Text1->text().trimmed());
}

void Form1::uploadStopped(const Error& error, bool wasRunning) {
    setRunning(false);
    QString text = stopAsked_   ? Words::stoppedByOperator()
                   : wasRunning ? Words::stopped(error, portLister_)
                                : Words::error(error, portLister_);
    stopAsked_ = false;
    const QString kept = Words::keptAfterStop(station_.image);
    if ((wasRunning || starting_) && !kept.isEmpty()) text += QLatin1Char('\n') + kept;
    endText_ = text;
    setStatus(text, true);
}

QString Form1::lastGoodPort() {
    return settings().value(QStringLiteral("lastPort")).toString();
}

QString Form1::initialPort(const PortLister& ports) {
    return initialPortText(lastGoodPort(), ports ? ports() : QList<PortEntry>());
}

void Form1::refreshPorts() {
    const QString typed = Text1->text();
    portModel_->clear();
    auto* automatic = new QStandardItem(QStringLiteral("自动"));
    automatic->setData(QStringLiteral("自动"), kPathRole);
    automatic->setToolTip(
        tr("Try each port, USB adapters first, and read where the controller "
           "answers"));
    portModel_->appendRow(automatic);
    for (const PortEntry& port : portLister_()) {
        QStringList about;
        for (const QString& part : {port.description, port.manufacturer, port.serialNumber}) {
            if (!part.isEmpty()) about << part;
        }
        const QString suffix =
            about.isEmpty()
                ? QString()
                : QStringLiteral("  (") + about.join(QStringLiteral(", ")) + QLatin1Char(')');
        for (const QString& name : {port.path, port.byId}) {
            if (name.isEmpty()) continue;
            auto* item = new QStandardItem(name + suffix);
            item->setData(name, kPathRole);
            item->setToolTip(name + suffix);
            portModel_->appendRow(item);
        }
    }
    Text1->setText(typed);  // a new list does not change what the field holds
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::FocusIn) refreshPorts();
    return QWidget::eventFilter(watched, event);
}

void Form1::setStatus(const QString& text, bool problem) {
    statusText_ = text;
    statusProblem_ = problem;
    shownText_ = fileNote_.isEmpty() ? text : text + QLatin1Char('\n') + fileNote_;
    // A long path has no space to wrap at: let it break after each slash.
    QString shown = shownText_;
    shown.replace(QLatin1Char('/'), QStringLiteral("/\u200B"));
    Status->setText(shown);
    Status->setStyleSheet(problem ? QStringLiteral("color: #b00020;") : QString());
    fitStatus();
}

void Form1::fitStatus() {
    const int needed = Status->heightForWidth(Status->width());
    const int height = std::max(tw(kStatusHeight), needed);
    Status->resize(Status->width(), height);
    setFixedSize(tw(kDesignedWidth),
                 std::max(tw(kDesignedHeight),
                          Status->y() + height + tw(kDesignedHeight - kStatusTop - kStatusHeight)));
}

void Form1::setFileNote(const QString& note) {
    fileNote_ = note;
    setStatus(statusText_, statusProblem_);
}

}  // namespace progread
