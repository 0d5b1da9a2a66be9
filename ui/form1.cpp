#include "ui/form1.h"

#include <QCloseEvent>
#include <QScreen>

#include "serial/port_name.h"

namespace progread {

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

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
    Text1->setToolTip(tr("Port number (1 is the first serial port) or a device path such as /dev/ttyUSB0"));

    // The stored layout, in twips. The port field is wider than the original 735 twips so that
    // a device path fits; the status line sits under the controls, with room for where files went.
    setFixedSize(tw(6750), tw(5250));
    Command1->setGeometry(tw(2160), tw(3120), tw(1417), tw(481));
    Text1->setGeometry(tw(3000), tw(1440), tw(2400), tw(375));
    Label1->setGeometry(tw(1920), tw(1560), tw(855), tw(375));
    Text2->setGeometry(tw(3000), tw(2040), tw(855), tw(375));
    Label2->setGeometry(tw(1920), tw(2160), tw(615), tw(375));
    Status->setGeometry(tw(240), tw(3720), tw(6270), tw(1440));

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
        const std::string warning = station_.prepareImage();
        if (!warning.empty()) setStatus(q(warning), true);
        const QString notes = FileReport::notes(station_.image.takeNotes());
        setFileNote(FileReport::where(dir_) +
                    (notes.isEmpty() ? QString() : QStringLiteral(" ") + notes));
    } catch (const Error& e) {
        if (error) *error = q(e.message());
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
        setStatus(q(e.description()) + tr(" — type a port number (1 is the first port) or a device path."),
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
        setStatus(tr("Port %1 is open. Press 读入 to read the program.").arg(q(station_.MSComm1.portName())));
    } catch (const Error& e) {
        setStatus(q(e.message()), true);
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

void Form1::showProgress(const std::string& text) { Text2->setText(q(text)); }

void Form1::requestSent(long address, int attempt) {
    QString text = tr("Reading block %1…").arg(q(hexAddress(address)));
    if (attempt > 1) text += tr(" (try %1 of %2)").arg(attempt).arg(Upload::kMaxAttempts);
    setStatus(text);
}

void Form1::replyRejected(long address, const std::string& reason) {
    setStatus(tr("Block %1: %2; asking again.").arg(q(hexAddress(address)), q(reason)), true);
}

void Form1::verifying(long from, long to, bool lostAnswers) {
    setStatus(lostAnswers ? tr("Answers were lost on the way: reading blocks %1 to %2 a second time to be sure.")
                                .arg(q(hexAddress(from)), q(hexAddress(to)))
                          : tr("Reading every block a second time to check it."));
}

void Form1::checksumsByAnotherRule() {
    setStatus(tr("The controller forms its reply checksums by another rule: each block is read "
                 "twice and taken only when both reads agree."));
}

void Form1::uploadFinished(const UploadSummary& summary) {
    QString text = tr("Done: %1 program bytes in %2 s. Image: %3 (%4 bytes).")
                  .arg(summary.programBytes)
                  .arg(static_cast<double>(elapsed_.elapsed()) / 1000.0, 0, 'f', 1)
                  .arg(q(station_.image.imagePath().string()))
                  .arg(station_.image.size());
    if (summary.confirmedBlocks > 0) {
        text += tr(" %1 blocks were confirmed by a second read.").arg(summary.confirmedBlocks);
    }
    if (summary.verifiedBlocks > 0) {
        text += tr(" %1 blocks were read twice and agreed.").arg(summary.verifiedBlocks);
    }
    setStatus(text);
    const QString notes = FileReport::notes(station_.image.takeNotes());
    if (!notes.isEmpty()) setFileNote(notes);
}

void Form1::uploadStopped(const Error& error, bool wasRunning) {
    QString text = (wasRunning ? tr("Stopped: ") : QString()) + q(error.message());
    const QString kept = FileReport::kept(station_.image);
    if (wasRunning && !kept.isEmpty()) text += QLatin1Char('\n') + kept;
    setStatus(text, true);
}

void Form1::setStatus(const QString& text, bool problem) {
    statusText_ = text;
    statusProblem_ = problem;
    Status->setText(fileNote_.isEmpty() ? text : text + QLatin1Char('\n') + fileNote_);
    Status->setStyleSheet(problem ? QStringLiteral("color: #b00020;") : QString());
}

void Form1::setFileNote(const QString& note) {
    fileNote_ = note;
    setStatus(statusText_, statusProblem_);
}

}  // namespace progread
