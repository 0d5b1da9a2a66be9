#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QSignalSpy>

#include "qt_helpers.h"
#include "temp_dir.h"
#include "tools/sample_program.h"
#include "ui/form1.h"

using namespace progread;
using namespace progread::testing;

namespace {

// Selects the port field's text and types text over it, as an operator would.
void typePort(Form1& w, const QString& text) {
    w.Text1->setFocus();
    w.Text1->selectAll();
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
        while ((n = ::read(master, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
        return got;
    }
};

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
    auto nextTabStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus)) next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextTabStop(w.Command1), w.Text1);
    EXPECT_EQ(nextTabStop(w.Text1), w.Text2);
    EXPECT_EQ(nextTabStop(w.Text2), w.Command1);
    // Labels sit to the left of their fields, the button under both.
    EXPECT_LT(w.Label1->geometry().right(), w.Text1->geometry().left());
    EXPECT_LT(w.Text1->geometry().bottom(), w.Text2->geometry().top());
    EXPECT_LT(w.Text2->geometry().bottom(), w.Command1->geometry().top());
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
    ASSERT_TRUE(waitUntil([&] { sent += line.received(); return sent.size() >= 13; }, 3000));
    EXPECT_EQ(sent, std::string("\x02" "E018000" "20\x03" "D3"));
    EXPECT_EQ(w.Text2->text(), "0");
    EXPECT_NE(w.statusText().indexOf("0x8000"), -1) << w.statusText().toStdString();
    QTest::qWait(300);
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
        w.Text1->selectAll();
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
        EXPECT_NE(w.statusText().indexOf("port number"), -1) << typed << ": " << w.statusText().toStdString();
        EXPECT_EQ(w.port().portName(), before) << typed;
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        EXPECT_NE(w.upload().phase(), Upload::Phase::Running) << "no start on a field that is not a port";
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
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return w.upload().phase() != Upload::Phase::Running; }));
    EXPECT_EQ(w.upload().phase(), Upload::Phase::Finished) << w.statusText().toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage(templ, sampleProgramMemory()));
    EXPECT_EQ(w.Text2->text(), QString::number(kSampleEndMarkerOffset / 32 * 32));
    EXPECT_NE(w.statusText().indexOf("Done"), -1);
    EXPECT_NE(w.statusText().indexOf(QString::fromStdString((dir / "duqu.pmw").string())), -1);
}

TEST(Window, ALostLineIsShownAndTheWindowCanStartAgain) {
    TempDir dir;
    Form1 w(dir.path());
    ASSERT_TRUE(w.Form_Load(nullptr));
    w.show();
    {
        Sim sim({"--close-after", "2"});
        typePort(w, sim.qport());
        QTest::mouseClick(w.Command1, Qt::LeftButton);
        ASSERT_TRUE(waitUntil([&] { return w.upload().phase() != Upload::Phase::Running; }));
        EXPECT_EQ(w.upload().phase(), Upload::Phase::Stopped);
        EXPECT_NE(w.statusText().indexOf("Stopped"), -1) << w.statusText().toStdString();
        EXPECT_NE(w.statusText().indexOf(sim.qport()), -1) << w.statusText().toStdString();
    }
    Sim again;
    typePort(w, again.qport());
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return w.upload().phase() != Upload::Phase::Running; }));
    EXPECT_EQ(w.upload().phase(), Upload::Phase::Finished) << w.statusText().toStdString();
    EXPECT_EQ(readFile(dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory()));
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
    const auto image = readFile(dir / "duqu.pmw");
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
