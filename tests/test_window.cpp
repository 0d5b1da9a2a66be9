// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>

#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"
#include "ui/file_report.h"
#include "ui/form1.h"
#include "ui/words.h"

using namespace progread;
using namespace progread::testing;

namespace {

// Selects the port field's text and types text over it, as an operator would.
void typePort(Form1& w, const QString& text) {
    w.Text1->setFocus();
    w.Text1->lineEdit()->selectAll();
    QTest::keyClicks(w.Text1, text);
}

// A pseudo-terminal whose other end this test reads: a port nobody answers on.
struct SilentLine {
    int master = -1, slave = -1;
    std::string name;
    SilentLine() {
        char buf[256] = {};
        ::openpty(&master, &slave, buf, nullptr, nullptr);
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(slave, TCSANOW, &tio);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        name = buf;
    }
    ~SilentLine() {
        ::close(master);
        ::close(slave);
    }
    std::string received() {
        std::string got;
        char buf[256];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0)
            got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
};

// The first paragraph of the status area that holds part, as the label shows it.
QTextCharFormat shownFormat(const Form1& w, const QString& part) {
    QTextDocument doc;
    doc.setHtml(w.Status->text());
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(part)) return b.begin().fragment().charFormat();
    }
    ADD_FAILURE() << "no \"" << part.toStdString() << "\" in " << w.statusText().toStdString();
    return {};
}

QColor shownColour(const Form1& w, const QString& part) {
    const QTextCharFormat f = shownFormat(w, part);
    return f.hasProperty(QTextFormat::ForegroundBrush) ? f.foreground().color() : QColor(Qt::black);
}

}  // namespace

TEST(Window, ControlsCaptionsTabOrderAndFocus) {
    TempDir dir;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.windowTitle(), "Form1");
    EXPECT_EQ(w.Command1->text(), "读入");
    EXPECT_EQ(w.Text1->text(), "1");
    EXPECT_EQ(w.Label1->text(), "串口号");
    EXPECT_EQ(w.Text2->text(), "");
    EXPECT_EQ(w.Label2->text(), "程序步");
    EXPECT_EQ(w.focusWidget(), w.Command1);
    EXPECT_EQ(w.Stop->text(), "停止");
    EXPECT_FALSE(w.Stop->isEnabled()) << "nothing to stop yet";
    EXPECT_FALSE(w.Busy->isVisible());
    // Tab as the operator presses it: 停止 is skipped while there is nothing to stop.
    const QList<QWidget*> order = {w.Text1, w.Text2, w.Compare, w.Command1};
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* at = QApplication::focusWidget();
        EXPECT_TRUE(at == next || next->isAncestorOf(at))
            << next->objectName().toStdString() << " expected, "
            << (at ? at->objectName().toStdString() : "nothing") << " has the focus";
    }
    // Labels sit to the left of their fields, the buttons under both, side by side; the busy
    // bar beside 程序步.
    EXPECT_LT(w.Label1->geometry().right(), w.Text1->geometry().left());
    EXPECT_LT(w.Text1->geometry().bottom(), w.Text2->geometry().top());
    EXPECT_LT(w.Text2->geometry().bottom(), w.Command1->geometry().top());
    EXPECT_LT(w.Command1->geometry().right(), w.Stop->geometry().left());
    EXPECT_EQ(w.Command1->geometry().top(), w.Stop->geometry().top());
    EXPECT_LT(w.Text2->geometry().right(), w.Busy->geometry().left());
    EXPECT_LE(w.Busy->geometry().right(), w.Text1->geometry().right());
    EXPECT_TRUE(w.rect().contains(w.Stop->geometry()));
    EXPECT_TRUE(w.rect().contains(w.Status->geometry()));
    EXPECT_NE(w.statusText().indexOf("moban.pmw"), -1) << "a missing template is reported";
}

TEST(Window, ClickThenTicksSendTheFirstRequestAndShowZero) {
    TempDir dir;
    SilentLine line;
    Form1 w(dir.path(), QString::fromStdString(line.name));
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    std::string sent;
    ASSERT_TRUE(waitUntil(
        [&] {
            sent += line.received();
            return sent.size() >= 13;
        },
        3000));
    EXPECT_EQ(sent, std::string("\x02"
                                "E018000"
                                "20\x03"
                                "D3"));
    EXPECT_EQ(w.Text2->text(), "0");
    EXPECT_NE(w.statusText().indexOf("0x8000"), -1) << w.statusText().toStdString();
    QSignalSpy ticks(&w.station().Timer1, &QTimer::timeout);
    ASSERT_TRUE(waitUntil([&] { return ticks.count() >= 3; }, 3000));
    EXPECT_EQ(line.received(), "") << "nothing more until a reply comes";
}

TEST(Window, AnEditThatIsNoPortShowsAHintAndChangesNothing) {
    TempDir dir;
    Sim sim;
    Form1 w(dir.path(), sim.qport());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    for (const char* typed : {"", "abc", "70000"}) {
        w.Text1->setFocus();
        w.Text1->lineEdit()->selectAll();
        const QString all = typed;
        QTest::keyClicks(w.Text1, all.chopped(all.isEmpty() ? 0 : 1));
        const std::string before = w.port().portName();
        // The keystroke that makes the field no port: the last character, or erasing it all.
        if (all.isEmpty()) {
            QTest::keyClick(w.Text1, Qt::Key_Backspace);
        } else {
            QTest::keyClicks(w.Text1, all.right(1));
        }
        EXPECT_TRUE(w.isVisible());
        EXPECT_NE(w.statusText().indexOf("port number"), -1)
            << typed << ": " << w.statusText().toStdString();
        EXPECT_EQ(w.port().portName(), before) << typed;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        EXPECT_FALSE(w.upload().running()) << "no start on a field that is not a port";
    }
}

TEST(Window, APortIsOpenedWhenTheEditIsFinishedNotWhileTyping) {
    TempDir dir;
    Sim sim;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    EXPECT_FALSE(w.port().PortOpen());
    typePort(w, sim.qport());
    EXPECT_EQ(w.port().portName(), sim.port());
    EXPECT_FALSE(w.port().PortOpen()) << "each keystroke names a device; none is opened";
    QTest::keyClick(w.Text1, Qt::Key_Return);
    EXPECT_TRUE(w.port().PortOpen());
    EXPECT_NE(w.statusText().indexOf(sim.qport()), -1);

    typePort(w, "/dev/ttyNOSUCH3");
    EXPECT_FALSE(w.port().PortOpen()) << "a new port closes the old one";
    QTest::keyClick(w.Text1, Qt::Key_Return);
    EXPECT_NE(w.statusText().indexOf("no such device"), -1) << w.statusText().toStdString();
}

TEST(Window, AWholeUploadAgainstTheSimulatorGivesTheExactImage) {
    TempDir dir;
    const std::vector<Byte> templ = patternBytes(256, 77);
    writeFile(dir / "moban.pmw", templ);
    Sim sim;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    EXPECT_EQ(w.statusText().indexOf("moban.pmw"), -1) << "a whole template is no news";
    typePort(w, sim.qport());
    ASSERT_TRUE(readToEnd(w));
    EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage(templ, sampleProgramMemory()));
    EXPECT_EQ(w.Text2->text(), QString::number(kSampleEndMarkerOffset / 32 * 32));
    EXPECT_NE(w.statusText().indexOf("Done"), -1);
    EXPECT_NE(w.statusText().indexOf(QString::fromStdString((dir / "duqu.pmw").string())), -1);
}

TEST(Window, PressingReadAgainWhileAnswersAreOutNeverMixesBlocks) {
    // A slow controller at wire speed; 读入 pressed twice or three times in quick succession,
    // at a few points of a block's cycle.
    TempDir files;
    std::vector<Byte> memory = sampleProgramMemory();
    for (std::size_t i = 0; i < 6 * 32; ++i)
        memory[i] = static_cast<Byte>(0x30 + i / 32);  // blocks differ
    memory[5 * 32 + 4] = 0x0F;
    memory[5 * 32 + 5] = 0x00;
    writeFile(files / "memory.bin", memory);
    struct Row {
        int latencyMs;
        int pressAfterMs;  // after the first request went out
        int presses;
    } rows[] = {{800, 30, 2}, {800, 400, 3}, {0, 40, 2}, {0, 60, 3}};
    for (const Row& row : rows) {
        const std::string what = std::to_string(row.latencyMs) + " ms, +" +
                                 std::to_string(row.pressAfterMs) + " ms, " +
                                 std::to_string(row.presses) + " presses";
        TempDir dir;
        Sim sim({"--memory", QString::fromStdString((files / "memory.bin").string()), "--char-us",
                 "1042", "--latency-ms", QString::number(row.latencyMs)});
        Form1 w(dir.path(), sim.qport());
        ASSERT_TRUE(w.Form_Load(nullptr));
        w.show();
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return w.upload().state().UploadCounter >= 4; }, 10000))
            << what;
        for (int p = 0; p < row.presses - 1; ++p) {
            QTimer::singleShot(row.pressAfterMs + 30 * p, &w,
                               [&w] { QTest::mouseClick(w.Command1, Qt::LeftButton); });
        }
        const int counterBefore = w.upload().state().UploadCounter;
        ASSERT_TRUE(
            waitUntil([&] { return w.upload().state().UploadCounter < counterBefore; }, 5000))
            << what << ": the presses did not restart";
        ASSERT_TRUE(waitUntil(
            [&] { return !w.upload().running() && w.upload().state().UploadCounter > 2; }, 30000))
            << what;
        EXPECT_EQ(w.upload().step(), Upload::Step::Finished)
            << what << ": " << w.statusText().toStdString();
        EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, memory)) << what;
    }
}

TEST(Window, ALostLineIsShownAndTheWindowCanStartAgain) {
    TempDir dir;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    {
        Sim sim({"--close-after", "2"});
        typePort(w, sim.qport());
        ASSERT_TRUE(readToEnd(w));
        EXPECT_EQ(w.upload().step(), Upload::Step::Stopped);
        EXPECT_TRUE(w.statusText().startsWith("Read failed\n")) << w.statusText().toStdString();
        EXPECT_NE(w.statusText().indexOf(sim.qport()), -1) << w.statusText().toStdString();
        const QString part = QString::fromStdString((dir / "duqu.pmw.part").string());
        EXPECT_NE(w.statusText().indexOf("2 blocks kept in " + part), -1)
            << w.statusText().toStdString();
    }
    // A new read that cannot open its port leaves 程序步 empty, not at the last read's block.
    ASSERT_FALSE(w.Text2->text().isEmpty());
    typePort(w, QStringLiteral("/dev/ttyNOSUCH5"));
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !w.upload().running(); }));
    EXPECT_EQ(w.Text2->text(), "") << w.statusText().toStdString();
    Sim again;
    typePort(w, again.qport());
    ASSERT_TRUE(readToEnd(w));
    EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
    EXPECT_NE(w.statusText().indexOf("duqu.pmw.part (2 blocks) was moved to history/duqu-"), -1)
        << w.statusText().toStdString();
}

TEST(Window, AnEarlierImageStaysAtLoadAndTheStatusSaysWhereFilesAre) {
    TempDir dir;
    const std::vector<Byte> earlier = patternBytes(9314, 12);
    writeFile(dir / "duqu.pmw", earlier);
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    EXPECT_EQ(readFile(dir / "duqu.pmw"), earlier);
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw.part")) << "no read has begun";
    EXPECT_FALSE(std::filesystem::exists(dir / "history"));
    EXPECT_NE(w.statusText().indexOf("kept in " + QString::fromStdString(dir.path().string())), -1);
}

TEST(Window, SigtermClosesTheWindowAsTheOperatorWould) {
    TempDir dir;
    writeFile(dir / "duqu.pmw", patternBytes(500, 1));
    QProcess p;
    p.start(QStringLiteral(PROGREAD_EXE), {"--dir", QString::fromStdString(dir.path().string())});
    // The template is made while the window loads.
    ASSERT_TRUE(waitUntil([&] { return std::filesystem::exists(dir / "moban.pmw"); }));
    signalChild(p, SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << "closed, not killed";
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

TEST(Window, ClosingDuringAnUploadKeepsWhatWasReadWithoutATail) {
    TempDir dir;
    Sim sim({"--latency-ms", "20"});
    Form1 w(dir.path(), sim.qport());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return w.upload().summary().blocks >= 3; }));
    w.close();
    EXPECT_FALSE(std::filesystem::exists(dir / "duqu.pmw"));
    const auto image = readFile(dir / "duqu.pmw.part");
    const std::vector<Byte> memory = sampleProgramMemory();
    ASSERT_GE(image.size(), 256u + 3 * 32);
    ASSERT_EQ((image.size() - 256) % 32, 0u) << "whole blocks only";
    EXPECT_TRUE(std::equal(image.begin() + 256, image.end(), memory.begin()));
}

TEST(Window, AnImageThatCannotBePreparedIsReportedAtLoad) {
    TempDir dir;
    std::filesystem::create_directory(dir / "duqu.pmw");
    Form1 w(dir.path());
    QString error;
    EXPECT_FALSE(w.Form_Load(&error));
    EXPECT_NE(error.indexOf("duqu.pmw"), -1) << error.toStdString();
}

// 停止 and Esc end a read as Ctrl-C ends --read; a keystroke in the port field never does,
// and the stop message stays until the next start.
TEST(Window, OnlyStopOrEscStopsARead) {
    TempDir dir;
    Sim sim({"--latency-ms", "30"});
    Form1 w(dir.path(), sim.qport());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    for (const bool byEsc : {false, true}) {
        SCOPED_TRACE(byEsc ? "Esc" : "停止");
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return w.upload().state().UploadCounter >= 3; }, 10000));
        EXPECT_TRUE(w.Stop->isEnabled());
        EXPECT_TRUE(w.Busy->isVisible());

        // A digit typed and erased again mid-read: the read goes on with its port.
        QLineEdit* field = w.Text1->lineEdit();
        field->end(false);
        QTest::keyClicks(field, "7");
        ASSERT_EQ(w.Text1->text(), sim.qport() + "7");
        const int counter = w.upload().state().UploadCounter;
        ASSERT_TRUE(waitUntil([&] { return w.upload().state().UploadCounter > counter; }, 5000))
            << w.statusText().toStdString();
        EXPECT_TRUE(w.upload().running());
        EXPECT_EQ(w.port().portName(), sim.port());
        QTest::keyClick(field, Qt::Key_Backspace);

        if (byEsc) {
            QTest::keyClick(&w, Qt::Key_Escape);
        } else {
            QTest::mouseClick(w.Stop, Qt::LeftButton);
        }
        ASSERT_FALSE(w.upload().running());
        EXPECT_EQ(w.upload().step(), Upload::Step::Stopped);
        EXPECT_FALSE(w.Stop->isEnabled());
        EXPECT_FALSE(w.Busy->isVisible());
        const QString stopped = w.statusText();
        EXPECT_TRUE(stopped.startsWith("Stopped\n") && stopped.contains("kept in"))
            << stopped.toStdString();
        EXPECT_TRUE(std::filesystem::exists(dir / "duqu.pmw.part"));

        // Editing the field afterwards adds to the message; it does not replace it.
        QTest::keyClicks(w.Text1, "x");
        EXPECT_TRUE(w.statusText().startsWith("Stopped\n")) << w.statusText().toStdString();
        QTest::keyClick(w.Text1, Qt::Key_Backspace);
        EXPECT_TRUE(w.statusText().startsWith("Stopped\n")) << w.statusText().toStdString();
    }
    // 读入 starts over, and the whole program comes.
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    EXPECT_FALSE(w.statusText().contains("Stopped"));
    ASSERT_TRUE(waitUntil([&] { return !w.upload().running(); }, 30000));
    EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
}

// The second read shows its own count under why it runs, and the result says why it ran.
TEST(Window, TheSecondReadIsLabelledAndExplained) {
    struct Row {
        const char* what;
        QStringList simArgs;
        bool verify;
        QString why;      // above the count while the second read runs
        QString summary;  // in the result
    };
    const std::vector<Row> rows = {
        {"--verify",
         {"--blocks", "4"},
         true,
         "Every block is read a second time",
         "Verified: a second read agreed"},
        {"a lost answer",
         {"--blocks", "4", "--drop", "2"},
         false,
         "Answers were lost on the way",
         "Answers were lost on the way, so"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        Sim sim(row.simArgs);
        Form1 w(dir.path(), sim.qport());
        w.setVerify(row.verify);
        ASSERT_TRUE(w.Form_Load(nullptr));
        w.show();
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        QString labelled;
        ASSERT_TRUE(waitUntil(
            [&] {
                const QString now = w.statusText();
                if (now.contains("Second read to check: block") && now.contains(row.why))
                    labelled = now;
                return !w.upload().running();
            },
            30000));
        EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
        EXPECT_FALSE(labelled.isEmpty()) << "the second read was never labelled";
        EXPECT_FALSE(labelled.contains("bytes read")) << labelled.toStdString();
        EXPECT_TRUE(w.statusText().contains(row.summary)) << w.statusText().toStdString();
    }
}

// How a read ended comes first, in a word, green or red; the figures under it in black, a
// warning in red on its own line. Information is never red, at start-up neither.
TEST(Window, TheEndingComesFirstAndOnlyWarningsAndFailuresAreRed) {
    const QColor red(0xb0, 0x00, 0x20), green(0x1b, 0x7f, 0x2a), black(Qt::black);
    const struct {
        const char* what;
        bool withTemplate;
        QStringList sim;
        QString ending;
        QColor colour;
        QString warning;  // empty: none is shown
    } rows[] = {
        {"done", true, {"--blocks", "2"}, "Done", green, ""},
        {"a header of zeros", false, {"--blocks", "2"}, "Done, with a warning", green, "moban.pmw"},
        {"the line lost", true, {"--close-after", "1"}, "Read failed", red, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        if (row.withTemplate) writeFile(dir / "moban.pmw", patternBytes(256, 5));
        Sim sim(row.sim);
        Form1 w(dir.path(), sim.qport());
        ASSERT_TRUE(w.Form_Load(nullptr));
        EXPECT_EQ(shownColour(w, "Files are kept in"), black);
        if (!row.warning.isEmpty()) {
            EXPECT_EQ(shownColour(w, "Warning:"), red);
        }
        w.show();
        ASSERT_TRUE(readToEnd(w));
        const QString result = w.statusText();
        EXPECT_TRUE(result.startsWith(row.ending + "\n")) << result.toStdString();
        EXPECT_EQ(shownColour(w, row.ending), row.colour) << result.toStdString();
        EXPECT_GE(shownFormat(w, row.ending).fontWeight(), QFont::Bold);
        const QString detail = result.section('\n', 1, 1);
        EXPECT_EQ(shownColour(w, detail.section(' ', 0, 0)), black) << detail.toStdString();
        EXPECT_EQ(result.contains("Warning:"), !row.warning.isEmpty()) << result.toStdString();
        if (!row.warning.isEmpty()) {
            EXPECT_EQ(shownColour(w, "Warning:"), red);
        }
        // No line breaks between a number and its unit ("1312" / "bytes").
        QTextDocument shown;
        shown.setHtml(w.Status->text());
        EXPECT_FALSE(shown.toRawText().contains(QRegularExpression("\\d ")))
            << shown.toRawText().toStdString();
    }
}

// A read that differs from the one before says so; 比较… compares with any program file.
TEST(Window, AReadComparesWithTheOneBeforeAndWithAFile) {
    TempDir dir;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    EXPECT_TRUE(w.rect().contains(w.Compare->geometry()));
    EXPECT_LT(w.Stop->geometry().right(), w.Compare->geometry().left());
    for (const char* blocks : {"4", "6"}) {
        Sim sim({"--blocks", blocks});
        w.Text1->setText(sim.qport());
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        EXPECT_FALSE(w.Compare->isEnabled()) << "nothing to compare while reading";
        ASSERT_TRUE(waitUntil([&] { return !w.upload().running(); }));
        ASSERT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
        EXPECT_TRUE(w.Compare->isEnabled());
        EXPECT_TRUE(w.statusText().contains(
            QRegularExpression("Fingerprint \\(SHA-256\\): [0-9a-f]{12}\\.")))
            << w.statusText().toStdString();
    }
    EXPECT_TRUE(w.statusText().contains("Differs from the read of") &&
                w.statusText().contains("the program read now is 2 blocks longer"))
        << w.statusText().toStdString();

    std::filesystem::path kept;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "history"))
        kept = entry.path();
    w.compareWith(kept);
    EXPECT_TRUE(w.statusText().startsWith("Differs from " + str(kept)))
        << w.statusText().toStdString();
    w.compareWith(dir / "duqu.pmw");
    EXPECT_TRUE(w.statusText().startsWith("Same program as ")) << w.statusText().toStdString();
    w.compareWith(dir / "moban.pmw");
    EXPECT_TRUE(w.statusText().contains("is not a program image")) << w.statusText().toStdString();
}

// 自动 tries the ports the list offers and reads where the controller answers.
TEST(Window, AutoReadsWhereTheControllerAnswers) {
    TempDir dir;
    SilentLine silent;
    Sim sim({"--blocks", "3"});
    Form1 w(dir.path(), QStringLiteral("自动"));
    w.setPortLister([&] {
        PortEntry quiet, controller;
        quiet.path = QString::fromStdString(silent.name);
        controller.path = sim.qport();
        return QList<PortEntry>{quiet, controller};
    });
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    ASSERT_TRUE(readToEnd(w));
    EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
    EXPECT_EQ(w.Text1->text(), sim.qport()) << "the port found is the port read";
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory(3)));
    // 自动 again: the port the read left open is tried like any other.
    w.Text1->setText(QStringLiteral("自动"));
    ASSERT_TRUE(readToEnd(w));
    EXPECT_EQ(w.upload().step(), Upload::Step::Finished) << w.statusText().toStdString();
    EXPECT_EQ(w.Text1->text(), sim.qport());

    // Nobody answers: each port tried is named, and nothing is read.
    Form1 none(dir.path(), QStringLiteral("自动"));
    none.setPortLister([&] {
        PortEntry quiet;
        quiet.path = QString::fromStdString(silent.name);
        return QList<PortEntry>{quiet};
    });
    QTest::mouseClick(none.Command1, Qt::LeftButton);
    EXPECT_TRUE(none.statusText().contains("No controller answered") &&
                none.statusText().contains(QString::fromStdString(silent.name) + ": no answer"))
        << none.statusText().toStdString();
    EXPECT_FALSE(none.upload().running());
}

TEST(Window, TheStatusAreaShowsEveryMessageWholeAndTheControlsStayPut) {
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
