// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QSignalSpy>

#include "fakes.h"
#include "qt_helpers.h"
#include "serial/comm_port.h"
#include "temp_dir.h"
#include "tools/sample_program.h"
#include "ui/station.h"

using namespace progread;
using namespace progread::testing;

namespace {

// The upload with the real port and timer, wired as the window and the headless mode have it.
struct PtyRig {
    TempDir dir;
    RecordingView view;
    Station station{dir.path(), view};
    int portLost = 0;

    explicit PtyRig(const std::string& port) {
        station.changePort(port);
        QObject::connect(&station.MSComm1, &CommPort::portLost, [this] { ++portLost; });
    }

    bool run(int ms = 90000) {
        station.image.prepare();
        station.upload.Command1_Click();
        return waitUntil([&] { return !station.upload.running(); }, ms);
    }
};

struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
};

std::string readWithin(int fd, std::size_t count, int ms) {
    std::string got;
    QDeadlineTimer deadline(ms);
    while (got.size() < count && !deadline.hasExpired()) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[256];
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) got.append(buf, static_cast<std::size_t>(n));
        }
    }
    return got;
}

}  // namespace

TEST(SerialPty, AWholeUploadMatchesTheMemoryServedByteForByte) {
    TempDir files;
    const std::vector<Byte> memory = memoryWithMarkerInBlock(6);
    writeFile(files / "memory.bin", memory);
    Sim sim(
        {"--memory", QString::fromStdString((files / "memory.bin").string()), "--char-us", "100"});
    ASSERT_FALSE(sim.port().empty());

    PtyRig rig(sim.port());
    const std::vector<Byte> templ = patternBytes(300, 9);
    writeFile(rig.dir / "moban.pmw", templ);
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.station.upload.step(), Upload::Step::Finished)
        << (rig.view.errors.empty() ? "" : rig.view.errors[0].message());
    EXPECT_EQ(readFile(rig.dir / "duqu.pmw"), expectedImage(templ, memory));
    EXPECT_EQ(rig.view.progress.back(), "192");
}

TEST(SerialPty, ChunkedNoisyAndSpoiledRepliesStillGiveTheExactImage) {
    // Every other request goes wrong, but no block fails three times. (A lost answer, which
    // costs the waits and a second read, is the fault matrix's.)
    Sim sim({"--blocks", "8", "--chunk", "5", "--chunk-gap-ms", "2", "--noise", "2",
             "--corrupt-digit", "3", "--bad-checksum", "5", "--short", "7"});
    PtyRig rig(sim.port());
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.station.upload.step(), Upload::Step::Finished)
        << (rig.view.errors.empty() ? "" : rig.view.errors[0].message());
    EXPECT_EQ(readFile(rig.dir / "duqu.pmw"), expectedImage({}, sampleProgramMemory(8)));
    std::string rejections;
    for (const auto& r : rig.view.rejections) rejections += r + "\n";
    EXPECT_EQ(rig.station.upload.summary().retries, 3)
        << "noise costs nothing, each spoiled reply one retry\n"
        << rejections;
}

TEST(SerialPty, ALineClosedMidUploadIsReportedOnceAndThePortClosed) {
    Sim sim({"--close-after", "3"});
    PtyRig rig(sim.port());
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.station.upload.step(), Upload::Step::Stopped);
    EXPECT_FALSE(rig.station.MSComm1.PortOpen());
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_NE(rig.view.errors[0].message().find(sim.port()), std::string::npos)
        << rig.view.errors[0].message();
    // Turn the loop a few hundred times: a hung-up port left open would be reported on
    // every turn.
    for (int i = 0; i < 300; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents);
    EXPECT_EQ(rig.portLost, 1);
    EXPECT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(std::filesystem::file_size(rig.dir / "duqu.pmw.part"), 256u + 3 * 32);
    EXPECT_FALSE(std::filesystem::exists(rig.dir / "duqu.pmw"));
}

// What the port reports when its device goes away depends on the device: a pseudo-terminal
// hung up reads as a read error, a USB adapter pulled as a resource error. Each such error
// closes the port and is told once; the others (a write that timed out) leave it open.
TEST(SerialPty, EveryErrorOfADeviceGoneClosesThePortAndIsToldOnce) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const Closer closeMaster{master}, closeSlave{slave};
    struct Row {
        QSerialPort::SerialPortError error;
        bool gone;
    } rows[] = {
        {QSerialPort::ResourceError, true},
        {QSerialPort::ReadError, true},
        {QSerialPort::WriteError, true},
        {QSerialPort::UnknownError, true},
        {QSerialPort::TimeoutError, false},
        {QSerialPort::NotOpenError, false},
        {QSerialPort::UnsupportedOperationError, false},
    };
    for (const Row& row : rows) {
        CommPort port;
        port.setCommPort(name);
        port.openPort();
        QSignalSpy lost(&port, &CommPort::portLost);
        auto* serial = port.findChild<QSerialPort*>();
        ASSERT_NE(serial, nullptr);
        emit serial->errorOccurred(row.error);
        emit serial->errorOccurred(row.error);  // a device gone keeps saying so
        EXPECT_EQ(lost.count(), row.gone ? 1 : 0) << row.error;
        EXPECT_EQ(port.PortOpen(), !row.gone) << row.error;
    }
}

TEST(SerialPty, PortsThatCannotBeOpenedSayWhichAndWhy) {
    CommPort missing;
    missing.setCommPort("/dev/ttyNOSUCH7");
    try {
        missing.openPort();
        FAIL() << "opened a port that does not exist";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Serial);
        EXPECT_NE(e.message().find("/dev/ttyNOSUCH7"), std::string::npos);
        EXPECT_NE(e.message().find("no such device"), std::string::npos) << e.message();
    }
    EXPECT_FALSE(missing.PortOpen());

    Sim sim;
    CommPort first, second;
    first.setCommPort(sim.port());
    second.setCommPort(sim.port());
    first.openPort();
    try {
        second.openPort();
        FAIL() << "opened a port another program holds";
    } catch (const Error& e) {
        EXPECT_NE(e.message().find(sim.port()), std::string::npos) << e.message();
    }
    first.setCommPort("/dev/ttyS0");
    EXPECT_FALSE(first.PortOpen()) << "a new port closes the old one";
    second.openPort();
    EXPECT_TRUE(second.PortOpen());
}

TEST(SerialPty, TheSimulatorAnswersAnyProgramAsTheLayoutPromises) {
    Sim sim;
    const int fd = ::open(sim.port().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios tio{};
    ::tcgetattr(fd, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);

    const ReadRequest request = BuildReadRequest(32);
    ASSERT_EQ(::write(fd, request.chars.data(), request.chars.size()), 13);
    const std::vector<Byte> memory = sampleProgramMemory();
    std::span<const Byte, 32> block(memory.data() + 32, 32);
    EXPECT_EQ(readWithin(fd, 68, 3000), BuildBlockReply(block));

    std::array<Byte, 13> bad = request.chars;
    bad[12] = bad[12] == '0' ? '1' : '0';
    ASSERT_EQ(::write(fd, bad.data(), bad.size()), 13);
    EXPECT_EQ(readWithin(fd, 2, 500), std::string(1, '\x15')) << "one NAK and nothing else";
    ::close(fd);
}

// 9600 baud, even parity, 7 data bits, 1 stop bit, no flow control, and parity checked.
TEST(SerialPty, TheLineIs9600With7E1AndAParityErrorReachesTheReplyAsQuestionMark) {
    int master = -1, slave = -1;
    char name[256] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const Closer closeMaster{master}, closeSlave{slave};
    CommPort port;
    port.setCommPort(name);
    port.openPort();

    // Read through openpty's own descriptor, opened before the port took the tty for itself
    // (TIOCEXCL: a second open is refused to all but root): what the tty does, not what Qt
    // remembers.
    termios tio{};
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_FALSE(tio.c_cflag & PARODD) << "even parity";
    EXPECT_FALSE(tio.c_cflag & CSTOPB) << "one stop bit";
    EXPECT_FALSE(tio.c_cflag & CRTSCTS) << "no hardware flow control";
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF)) << "no software flow control";
    // A pseudo-terminal keeps 8 data bits and no parity whatever it is told: what the port
    // was told is read from the port.
    const auto* serial = port.findChild<QSerialPort*>();
    ASSERT_NE(serial, nullptr);
    EXPECT_EQ(serial->dataBits(), QSerialPort::Data7);
    EXPECT_EQ(serial->parity(), QSerialPort::EvenParity);
    EXPECT_EQ(serial->stopBits(), QSerialPort::OneStop);
    EXPECT_EQ(serial->baudRate(), 9600);
    EXPECT_EQ(serial->flowControl(), QSerialPort::NoFlowControl);
    EXPECT_TRUE(tio.c_iflag & INPCK);
    EXPECT_FALSE(tio.c_iflag & IGNPAR) << "a character with a parity error would vanish";
    EXPECT_FALSE(tio.c_iflag & PARMRK) << "it would come as three characters";

    // The tty hands a character with a parity error on as NUL.
    const std::vector<Byte> memory = sampleProgramMemory();
    const std::string good = BuildBlockReply(std::span<const Byte, 32>(memory.data(), 32));
    std::string spoiled = good;
    spoiled[20] = '\0';
    QSignalSpy comm(&port, &CommPort::OnComm);
    ASSERT_EQ(::write(master, spoiled.data(), spoiled.size()), 68);
    ASSERT_TRUE(waitUntil([&] { return comm.count() > 0; }, 5000));
    std::string expected = good;
    expected[20] = '?';
    EXPECT_EQ(port.Input(), expected);
}
