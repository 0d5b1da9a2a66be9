// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator sees and asks for: words with advice, the port list, the trace, the
// verify read, the message without a display.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QCompleter>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include "image/program_image.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"
#include "ui/form1.h"
#include "ui/port_list.h"
#include "ui/trace_file.h"
#include "ui/words.h"

using namespace progread;
using namespace progread::testing;

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// progread as a script runs it: no display.
ToolRun runTool(const QStringList& args, const QStringList& extraEnv = {}) {
    QProcessEnvironment env = headlessEnvironment();
    for (const QString& e : extraEnv) env.insert(e.section('=', 0, 0), e.section('=', 1));
    const Outcome o = runProgread(args, QStringLiteral(PROGREAD_EXE), env);
    return {o.exitCode, o.stdOut, o.stdErr};
}

QList<PortEntry> fakePorts() {
    PortEntry usb;
    usb.path = QStringLiteral("/dev/ttyUSB0");
    usb.byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0");
    usb.description = QStringLiteral("FT232R USB UART");
    usb.manufacturer = QStringLiteral("FTDI");
    usb.serialNumber = QStringLiteral("A50285BI");
    PortEntry builtIn;
    builtIn.path = QStringLiteral("/dev/ttyS0");
    return {builtIn, usb};
}

Error errorWith(ErrorFacts::Code code, const std::string& subject = {}, long address = -1,
                int count = 0) {
    ErrorFacts f;
    f.code = code;
    f.subject = subject;
    f.address = address;
    f.count = count;
    f.reason = "Device or resource busy";
    f.other = "dialout";
    return Error(ErrorKind::Serial, f, "english fallback");
}

}  // namespace

TEST(Advice, EachFailureSaysWhatToCheck) {
    struct Row {
        const char* what;
        Error error;
        std::vector<QString> said;
    };
    const std::vector<Row> rows = {
        {"no answer",
         errorWith(ErrorFacts::Code::NoReply, {}, 0x8080, 3),
         {"0x8080", "no reply after 3 requests", "cable", "powered", "controller's port is set to",
          "9600 bps, 7 data bits, even parity, 1 stop bit", "/dev/ttyS0, /dev/ttyUSB0"}},
        {"refused with NAK",
         errorWith(ErrorFacts::Code::Nak, {}, 0x8120, 3),
         {"0x8120", "NAK", "3 times", "locks its memory", "even parity"}},
        {"a missing device",
         errorWith(ErrorFacts::Code::PortNotFound, "/dev/ttyUSB3"),
         {"/dev/ttyUSB3", "no such device", "/dev/ttyS0, /dev/ttyUSB0", "brltty"}},
        {"a busy port",
         errorWith(ErrorFacts::Code::PortBusy, "/dev/ttyUSB0"),
         {"/dev/ttyUSB0", "in use", "ModemManager"}},
        {"no permission",
         errorWith(ErrorFacts::Code::PortPermission, "/dev/ttyUSB0", -1, 1),
         {"/dev/ttyUSB0", "permission denied", "'dialout'", "usermod -aG dialout"}},
        {"out of step",
         errorWith(ErrorFacts::Code::OutOfStep, {}, 0x8020),
         {"out of step", "0x8020"}},
        {"two reads differ",
         errorWith(ErrorFacts::Code::SecondReadDiffers, {}, 0x8000),
         {"0x8000", "Read again"}},
        {"a port gone",
         errorWith(ErrorFacts::Code::PortLost, "/dev/ttyUSB0"),
         {"/dev/ttyUSB0", "disconnected", "plugged in"}},
        {"a port that would not open",
         errorWith(ErrorFacts::Code::PortOpenFailed, "/dev/ttyUSB0"),
         {"/dev/ttyUSB0", "serial port", "/dev/ttyS0, /dev/ttyUSB0"}},
    };
    for (const Row& row : rows) {
        const QString text = Words::error(row.error, fakePorts);
        for (const QString& part : row.said) {
            EXPECT_TRUE(text.contains(part))
                << row.what << ": no \"" << part.toStdString() << "\" in\n"
                << text.toStdString();
        }
        // The system's or Qt's own words ("Unknown error") never reach the operator, nor
        // does "serial port error" for what is the controller's or the line's doing.
        EXPECT_FALSE(text.contains("english fallback")) << row.what;
        EXPECT_FALSE(text.contains("Device or resource busy")) << row.what;
        EXPECT_FALSE(text.contains("Serial port error")) << row.what;
    }
    // brltty takes an adapter as it is plugged in: told when the device is missing at open,
    // not when a line goes away mid-read.
    EXPECT_FALSE(Words::error(errorWith(ErrorFacts::Code::PortLost, "/dev/ttyUSB0"), fakePorts)
                     .contains("brltty"));
    // The window's operator is never sent to a command-line option.
    ErrorFacts inUse;
    inUse.code = ErrorFacts::Code::FolderInUse;
    inUse.subject = "/x";
    inUse.count = 4711;
    ErrorFacts readOnly;
    readOnly.code = ErrorFacts::Code::FileFailed;
    readOnly.action = ErrorFacts::Action::WriteInFolder;
    readOnly.subject = "/x";
    for (const ErrorFacts& facts : {inUse, readOnly}) {
        const Error e(ErrorKind::File, facts, "english fallback");
        Words::setAudience(Words::Audience::Window);
        const QString window = Words::error(e);
        Words::setAudience(Words::Audience::CommandLine);
        const QString headless = Words::error(e);
        EXPECT_FALSE(window.contains("--")) << window.toStdString();
        EXPECT_TRUE(headless.contains("--dir")) << headless.toStdString();
        EXPECT_TRUE(window.contains("/x")) << window.toStdString();
    }
    // No ports at all: says so instead of an empty list.
    const QString none = Words::error(errorWith(ErrorFacts::Code::PortNotFound, "/dev/ttyUSB3"),
                                      [] { return QList<PortEntry>(); });
    EXPECT_TRUE(none.contains("No serial port is found")) << none.toStdString();
    // File errors from the image itself, worded from their facts.
    TempDir dir;
    std::filesystem::create_directory(dir / "duqu.pmw");
    try {
        ProgramImage(dir.path()).prepare();
        ADD_FAILURE() << "a folder named duqu.pmw was taken for an image";
    } catch (const Error& e) {
        ASSERT_EQ(e.facts().code, ErrorFacts::Code::NotAFile) << e.message();
        const QString text = Words::error(e);
        EXPECT_TRUE(text.contains(str(dir / "duqu.pmw")) && text.contains("not a file"))
            << text.toStdString();
    }
    ErrorFacts full;
    full.code = ErrorFacts::Code::FileFailed;
    full.action = ErrorFacts::Action::WriteTo;
    full.subject = "/x/duqu.pmw.part";
    full.reason = "No space left on device";
    const QString noRoom = Words::error(Error(ErrorKind::File, full, "english fallback"));
    for (const char* part : {"/x/duqu.pmw.part", "No space left on device", "room"}) {
        EXPECT_TRUE(noRoom.contains(part)) << part << ": " << noRoom.toStdString();
    }
    // An error without a code of its own keeps its description.
    EXPECT_TRUE(Words::error(Error(ErrorKind::File, "cannot write /x/duqu.pmw.part: No space"))
                    .contains("/x/duqu.pmw.part"));
}

TEST(Advice, ALongWaitNamesTheBlockAndTheWholeSeconds) {
    const QString text = Words::waiting(0x8120, 4700);
    EXPECT_TRUE(text.contains("0x8120") && text.contains("4 s")) << text.toStdString();
    EXPECT_FALSE(text.contains("4700") || text.contains("4.7")) << text.toStdString();
}

TEST(PortPicker, TheListAndTheCompleterOfferTheSystemsPortsReadAgain) {
    TempDir dir;
    QList<PortEntry> ports = fakePorts();
    Form1 w(dir.path());
    w.setPortLister([&] { return ports; });
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.Text1->setFocus();
    ASSERT_TRUE(waitUntil([&] { return w.Text1->hasFocus(); }, 5000));
    QAbstractItemModel* model = w.portCompleter()->model();
    QStringList offered, shown;
    for (int r = 0; r < model->rowCount(); ++r) {
        offered << model->index(r, 0).data(w.portCompleter()->completionRole()).toString();
        shown << model->index(r, 0).data(Qt::DisplayRole).toString();
    }
    EXPECT_EQ(offered, QStringList({"自动", "/dev/ttyS0", "/dev/ttyUSB0", ports[1].byId}));
    EXPECT_TRUE(shown[2].contains("FT232R USB UART") && shown[2].contains("FTDI") &&
                shown[2].contains("A50285BI"))
        << shown[2].toStdString();

    // Typing part of a name finds it; choosing it fills the field with the path alone.
    w.portCompleter()->setCompletionPrefix(QStringLiteral("usb"));
    EXPECT_EQ(w.portCompleter()->completionCount(), 2);
    EXPECT_EQ(w.portCompleter()->currentCompletion(), "/dev/ttyUSB0");

    // An adapter plugged in meanwhile shows the next time the field gets the focus.
    PortEntry acm;
    acm.path = QStringLiteral("/dev/ttyACM0");
    ports << acm;
    w.Command1->setFocus();
    ASSERT_TRUE(waitUntil([&] { return w.Command1->hasFocus(); }, 5000));
    w.Text1->setFocus();
    ASSERT_TRUE(waitUntil([&] { return w.portCompleter()->model()->rowCount() == 5; }, 5000));
    // The drop-down: read again as it opens; a pick gives the path alone.
    PortEntry usb1;
    usb1.path = QStringLiteral("/dev/ttyUSB1");
    ports << usb1;
    w.Text1->showPopup();
    EXPECT_EQ(w.Text1->count(), 6) << "read again as the list opens";
    EXPECT_EQ(w.Text1->itemText(0), "自动");
    EXPECT_EQ(w.Text1->text(), "1") << "opening the list keeps what was typed";
    EXPECT_TRUE(w.Text1->itemText(3).contains("FT232R USB UART"))
        << w.Text1->itemText(3).toStdString();
    w.Text1->hidePopup();
    emit w.Text1->activated(3);
    EXPECT_EQ(w.Text1->text(), ports[1].byId) << "the path alone, without its description";
    EXPECT_EQ(w.port().portName(), ports[1].byId.toStdString());
}

TEST(PortPicker, TheFieldStartsWithTheRememberedPortElseTheOnlyUsbAdapterElseOne) {
    PortEntry usb0, usb1, builtIn;
    usb0.path = QStringLiteral("/dev/ttyUSB0");
    usb0.usb = true;
    usb1.path = QStringLiteral("/dev/ttyACM0");
    usb1.usb = true;
    builtIn.path = QStringLiteral("/dev/ttyS0");
    const struct {
        QString remembered;
        QList<PortEntry> ports;
        QString first;
    } rows[] = {
        {"/dev/ttyUSB3", {builtIn, usb0}, "/dev/ttyUSB3"},  // remembered, even when gone
        {"", {builtIn, usb0}, "/dev/ttyUSB0"},
        {" ", {usb0}, "/dev/ttyUSB0"},
        {"", {builtIn, usb0, usb1}, "1"},  // two adapters: no guess
        {"", {builtIn}, "1"},
        {"", {}, "1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(initialPortText(row.remembered, row.ports), row.first)
            << row.remembered.toStdString() << ", " << row.ports.size() << " ports";
    }
}

TEST(PortPicker, ListPortsPrintsOnePortALineWithFiveColumns) {
    const ToolRun run = runTool({"--list-ports"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        EXPECT_EQ(line.count('\t'), 4) << line.toStdString();
        EXPECT_TRUE(line.startsWith('/')) << line.toStdString();
    }
    // A field with a tab of its own would shift the columns.
    PortEntry odd;
    odd.path = QStringLiteral("/dev/ttyUSB1");
    odd.description = QStringLiteral("two\twords");
    EXPECT_EQ(listingLine(odd), "/dev/ttyUSB1\t\ttwo words\t\t");
}

TEST(PortPicker, TheFieldStartsWithTheLastPortThatReadSuccessfully) {
    TempDir dir;
    Sim sim({"--blocks", "3"});
    Form1 w(dir.path(), sim.qport());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return w.upload().step() == Upload::Step::Finished; }))
        << w.statusText().toStdString();
    EXPECT_EQ(Form1::lastGoodPort(), sim.qport());
    EXPECT_EQ(Form1::initialPort([] { return QList<PortEntry>(); }), sim.qport());
}

TEST(Trace, ControlCharactersAreNamed) {
    EXPECT_EQ(traceChars(std::string("\x02"
                                     "E01800020\x03"
                                     "D3")),
              "<STX>E01800020<ETX>D3");
    EXPECT_EQ(traceChars(std::string("\x15\x1b\x7f A", 5)), "<NAK><0x1B><0x7F> A");
    EXPECT_EQ(traceChars(std::string("\0", 1)), "<0x00>");
}

TEST(Trace, AReadWithOneSpoiledAnswerShowsItsRejection) {
    TempDir dir;
    Sim sim({"--corrupt-digit", "3"});
    const std::filesystem::path trace = dir / "line.trace";
    const ToolRun run =
        runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(trace), "--fast"});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const std::vector<Byte> bytes = readFile(trace);
    const QStringList lines = QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<qsizetype>(bytes.size()))
                                  .split('\n', Qt::SkipEmptyParts);
    const QRegularExpression stamp(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} (->|<-|==) "));
    int requests = 0, accepted = 0;
    QStringList rejected;
    for (const QString& line : lines) {
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
        if (line.contains(" -> <STX>E01")) ++requests;
        if (line.endsWith("  accepted")) ++accepted;
        if (line.contains("  rejected: ")) rejected << line;
    }
    EXPECT_EQ(accepted, 41);
    // The image's whole digest ends the trace.
    QFile image(str(dir / "duqu.pmw"));
    ASSERT_TRUE(image.open(QIODevice::ReadOnly));
    EXPECT_TRUE(lines.last().endsWith(
        "== duqu.pmw SHA-256 " +
        QString::fromLatin1(
            QCryptographicHash::hash(image.readAll(), QCryptographicHash::Sha256).toHex())))
        << lines.last().toStdString();
    EXPECT_EQ(requests, 42) << "the third block asked twice";
    ASSERT_EQ(rejected.size(), 1);
    EXPECT_TRUE(rejected[0].contains("<- <STX>") && rejected[0].contains("<ETX>"))
        << rejected[0].toStdString();
    EXPECT_TRUE(rejected[0].contains("checksum mismatch")) << rejected[0].toStdString();
    // The request for block 3 stands just before its spoiled answer, and again after it.
    const int at = static_cast<int>(lines.indexOf(rejected[0]));
    ASSERT_GE(at, 1);
    EXPECT_TRUE(lines[at - 1].contains("-> <STX>E018040")) << lines[at - 1].toStdString();
    EXPECT_TRUE(lines[at + 1].contains("-> <STX>E018040")) << lines[at + 1].toStdString();

    // Appended, never overwritten.
    const ToolRun again =
        runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(trace), "--fast"});
    ASSERT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_GT(readFile(trace).size(), bytes.size() + 41 * 60);

    const ToolRun nowhere = runTool(
        {"--read", sim.qport(), "--dir", str(dir.path()), "--trace", str(dir / "no" / "such")});
    EXPECT_EQ(nowhere.exitCode, 2);
    EXPECT_TRUE(nowhere.err.contains("trace file")) << nowhere.err.toStdString();
}

TEST(Verify, TheImageIsPublishedOnlyWhenTwoReadsAgree) {
    struct Row {
        const char* what;
        QStringList simArgs;
        int exitCode;
        QString said;
    };
    // The sample is 41 blocks: requests 1..41 are the first read, 42.. the second.
    const std::vector<Row> rows = {
        {"memory unchanged", {}, 0, "Verified"},
        {"changed before the first read", {"--change-after", "1"}, 0, "Verified"},
        {"changed between the reads",
         {"--change-after", "42"},
         1,
         "Block 0 (0x8000) read a second time differs"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        Sim sim(row.simArgs);
        const ToolRun run =
            runTool({"--read", sim.qport(), "--dir", str(dir.path()), "--verify", "--fast"});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.what << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(row.said)) << row.what << "\n" << run.err.toStdString();
        EXPECT_EQ(std::filesystem::exists(dir / "duqu.pmw"), row.exitCode == 0) << row.what;
        if (row.exitCode == 0) {
            std::vector<Byte> memory = sampleProgramMemory();
            if (!row.simArgs.isEmpty()) memory[0] ^= 0x01;
            EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, memory)) << row.what;
        }
    }
}

TEST(NoDisplay, TheWindowSaysSoAndPointsToRead) {
    const ToolRun run = runTool({});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("no display")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("--read PORT")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("Reinstalling")) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("XDG_RUNTIME_DIR")) << run.err.toStdString();
}

TEST(WindowFit, TheStatusAreaShowsEveryMessageWholeAndTheControlsStayPut) {
    TempDir dir;
    Form1 designed(dir.path());
    const QRect button = designed.Command1->geometry();
    const QRect field = designed.Text1->geometry();
    const QSize designedSize = designed.size();

    // No template: the longest start-up message, under the note on where files lie, in a
    // folder with a long name.
    const std::filesystem::path deep = dir / std::string(120, 'd');
    std::filesystem::create_directory(deep);
    Form1 w(deep);
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_NE(w.statusText().indexOf("moban.pmw"), -1);
    EXPECT_LE(w.Status->heightForWidth(w.Status->width()), w.Status->height())
        << w.statusText().toStdString();
    EXPECT_TRUE(w.rect().contains(w.Status->geometry()));
    EXPECT_GT(w.height(), designedSize.height()) << "grown below the designed layout";
    EXPECT_EQ(w.width(), designedSize.width());
    EXPECT_EQ(w.Command1->geometry(), button);
    EXPECT_EQ(w.Text1->geometry(), field);

    // A short message gives the designed size back.
    Form1 plain(dir.path());
    std::filesystem::path templ = dir / "moban.pmw";
    writeFile(templ, std::vector<Byte>(256, 0));
    ASSERT_TRUE(plain.Form_Load(nullptr));
    EXPECT_EQ(plain.size(), designedSize) << plain.statusText().toStdString();
}

TEST(Progress, OnATerminalOneLineIsRewrittenAndTheSummaryFollowsOnItsOwn) {
    // script(1) gives progread a terminal for its standard error.
    if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty())
        GTEST_SKIP() << "no script(1)";
    TempDir dir;
    Sim sim({"--blocks", "5"});
    const QString command = QStringLiteral("%1 --read %2 --dir %3")
                                .arg(QStringLiteral(PROGREAD_EXE), sim.qport(), str(dir.path()));
    QProcess p;
    p.start(QStringLiteral("script"), {"-qec", command, "/dev/null"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    const QStringList rewrites = out.split('\r');
    // Every request rewrote the line: the first after the notes, each one erasing the rest.
    EXPECT_GE(rewrites.count(), 5) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("\rBlock 128 (0x8080): 128 bytes read, ")) &&
                out.contains("\x1b[K"))
        << out.toStdString();
    // The summary on a line of its own.
    EXPECT_TRUE(out.contains(QRegularExpression(QStringLiteral(
        "retries\\.\\x1b\\[K\\r?\\nprogread: Done[^\\n]* Read 160 bytes, 5 blocks"))))
        << out.toStdString();
}
