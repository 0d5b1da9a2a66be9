#include "ui/form1.h"

#include <QCloseEvent>
#include <QCompleter>
#include <QScreen>
#include <QSettings>
#include <QStandardItemModel>

#include "serial/port_name.h"
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

Form1::Form1(const FileDir& dir, const QString& port, QWidget* parent)
    : QWidget(parent), dir_(dir), station_(dir.path, *this) {
    setWindowTitle(QStringLiteral("Form1"));
    setObjectName(QStringLiteral("Form1"));

    Command1 = new QPushButton(QStringLiteral("读入"), this);
    Text1 = new QLineEdit(port, this);
    Label1 = new QLabel(QStringLiteral("串口号"), this);
    Text2 = new QLineEdit(this);
    Label2 = new QLabel(QStringLiteral("程序步"), this);
    Status = new QLabel(this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Text2->setObjectName(QStringLiteral("Text2"));
    Label2->setObjectName(QStringLiteral("Label2"));
    Status->setObjectName(QStringLiteral("Status"));
    Status->setWordWrap(true);
    Status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Text1->setToolTip(
        tr("Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0"));

    // The stored layout, in twips. The port field is wider than the original 735 twips so that
    // a device path fits; the status line sits under the controls, with room for where files went.
    setFixedSize(tw(kDesignedWidth), tw(kDesignedHeight));
    Command1->setGeometry(tw(2160), tw(3120), tw(1417), tw(481));
    Text1->setGeometry(tw(3000), tw(1440), tw(2400), tw(375));
    Label1->setGeometry(tw(1920), tw(1560), tw(855), tw(375));
    Text2->setGeometry(tw(3000), tw(2040), tw(855), tw(375));
    Label2->setGeometry(tw(1920), tw(2160), tw(615), tw(375));
    Status->setGeometry(tw(240), tw(kStatusTop), tw(6270), tw(kStatusHeight));

    // The field stays free text; the completer offers the ports the system has.
    portModel_ = new QStandardItemModel(this);
    completer_ = new QCompleter(portModel_, this);
    completer_->setCompletionRole(kPathRole);
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setFilterMode(Qt::MatchContains);
    Text1->setCompleter(completer_);
    Text1->installEventFilter(this);

    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Text2);
    Label1->setFocusPolicy(Qt::NoFocus);
    Label2->setFocusPolicy(Qt::NoFocus);
    Command1->setDefault(true);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Text1, &QLineEdit::textEdited, this, [this] {
        portEdited_ = true;
        Text1_Change();
    });
    connect(Text1, &QLineEdit::editingFinished, this, &Form1::Text1_EditingFinished);
    station_.Timer1.start();  // runs from start-up; ticks do nothing until the first start
}

int Form1::tw(int twips) const {
    // 15 twips a pixel at 96 dpi, scaled for the screen.
    const qreal dpi = screen() ? screen()->logicalDotsPerInch() : 96.0;
    return qRound(twips / 15.0 * dpi / 96.0);
}

bool Form1::Form_Load(QString* error) {
    Text1_Change();  // the stored text is not an edit: nothing is opened until asked
    try {
        const QString warning = station_.prepareImage();
        if (!warning.isEmpty()) setStatus(warning, true);
        const QString notes = FileReport::notes(station_.image.takeNotes());
        setFileNote(Words::then(FileReport::where(dir_), notes));
    } catch (const Error& e) {
        if (error) *error = Words::error(e);
        return false;
    }
    return true;
}

void Form1::Command1_Click() {
    if (!Text1_Change()) return;  // the hint is showing
    elapsed_.start();
    fileNote_.clear();
    setStatus(tr("Opening %1…").arg(q(station_.MSComm1.portName())));
    station_.upload.Command1_Click();
    setFileNote(FileReport::notes(station_.image.takeNotes()));
}

bool Form1::Text1_Change() {
    std::string name;
    try {
        name = portNameFor(Text1->text().toStdString());
    } catch (const Error& e) {
        // Often just a moment in retyping: a hint, and the port stays as it was.
        setStatus(Words::errorBody(e) +
                      tr(" — type a port number (1 is the first port) or a device path."),
                  true);
        return false;
    }
    if (name == station_.MSComm1.portName()) return true;
    const bool wasRunning = station_.upload.running();
    station_.changePort(name);  // a running upload stops and says so
    if (!wasRunning) setStatus(tr("Port: %1").arg(q(name)));
    return true;
}

void Form1::Text1_EditingFinished() {
    if (!portEdited_) return;
    portEdited_ = false;
    if (!Text1_Change() || station_.MSComm1.PortOpen()) return;
    try {
        station_.MSComm1.openPort();
        setStatus(tr("Port %1 is open. Press 读入 to read the program.")
                      .arg(q(station_.MSComm1.portName())));
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

void Form1::showProgress(const std::string& text) {
    Text2->setText(q(text));
}

void Form1::requestSent(long address, int attempt) {
    const UploadSummary& summary = station_.upload.summary();
    QString text =
        Words::progress(address, summary.programBytes, elapsed_.elapsed(), summary.retries);
    if (attempt > 1)
        text = Words::then(text, tr("(try %1 of %2)").arg(attempt).arg(Upload::kMaxAttempts));
    setStatus(text);
}

void Form1::waitingForAnswer(long address, long long waitedMs) {
    // Over the progress; the next request's progress takes the line back.
    setStatus(Words::waiting(address, waitedMs));
}

void Form1::replyRejected(long address, const Refusal& refusal) {
    setStatus(
        tr("Block %1: %2; asking again.").arg(Words::address(address), Words::refusal(refusal)),
        true);
}

void Form1::verifying(long from, long to, bool lostAnswers) {
    setStatus(
        lostAnswers
            ? tr("Answers were lost on the way: reading blocks %1 to %2 a second time to be sure.")
                  .arg(Words::address(from), Words::address(to))
            : tr("Reading every block a second time to check it (--verify)."));
}

void Form1::checksumsByAnotherRule() {
    setStatus(
        tr("The controller forms its reply checksums by another rule: each block is read "
           "twice and taken only when both reads agree."));
}

void Form1::uploadFinished(const UploadSummary& summary) {
    setStatus(Words::then(tr("Done."),
                          Words::summary(summary, elapsed_.elapsed(), station_.upload.verify(),
                                         q(station_.image.imagePath().string()),
                                         static_cast<qint64>(station_.image.size()))));
    const QString notes = FileReport::notes(station_.image.takeNotes());
    if (!notes.isEmpty()) setFileNote(notes);
    settings().setValue(QStringLiteral("lastPort"), Text1->text().trimmed());
}

void Form1::uploadStopped(const Error& error, bool wasRunning) {
    const QString what = Words::error(error, portLister_);
    QString text = wasRunning ? tr("Stopped: %1").arg(what) : what;
    const QString kept = FileReport::kept(station_.image);
    if (wasRunning && !kept.isEmpty()) text += QLatin1Char('\n') + kept;
    setStatus(text, true);
}

QString Form1::lastGoodPort() {
    const QString port = settings().value(QStringLiteral("lastPort")).toString();
    return port.isEmpty() ? QStringLiteral("1") : port;
}

void Form1::refreshPorts() {
    portModel_->clear();
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
