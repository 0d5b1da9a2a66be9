// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator is told when something fails: what happened, where, and what to check.

#include <gtest/gtest.h>

#include <QString>

#include "fakes.h"
#include "image/program_image.h"
#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "tmpfs.h"
#include "ui/words.h"

using namespace progread;
using namespace progread::testing;

TEST(Advice, EachFailureSaysWhatToCheck) {
    struct Row {
        const char* what;
        Error error;
        std::vector<QString> said;  // in this order, the likeliest cause first; advice apart
        std::vector<QString> unsaid = {};
    };
    notePortSeen("/dev/ttyUSB5");
    const std::vector<Row> rows = {
        {"no answer",
         errorWith(ErrorFacts::Code::NoReply, {}, 0x8080, 3),
         {"Block 5 (0x8080)", "no reply after 3 requests", "cable", "powered",
          "controller's port is set to", "9600 bps, 7 data bits, even parity, 1 stop bit",
          "/dev/ttyS0, /dev/ttyUSB0"}},
        {"refused with NAK",
         errorWith(ErrorFacts::Code::Nak, {}, 0x8120, 3),
         {"Block 10 (0x8120)", "NAK", "3 times", "locks its memory", "even parity"}},
        {"a missing device",
         errorWith(ErrorFacts::Code::PortNotFound, "/dev/ttyUSB3"),
         {"/dev/ttyUSB3", "no such device.\nCheck that the USB serial cable is plugged in",
          "\nPorts on this computer: /dev/ttyS0, /dev/ttyUSB0"},
         {"brltty"}},
        {"an adapter seen earlier, gone",
         errorWith(ErrorFacts::Code::PortNotFound, "/dev/ttyUSB5"),
         {"/dev/ttyUSB5", "no such device", "USB serial cable is plugged in",
          "/dev/ttyS0, /dev/ttyUSB0", "brltty"}},
        {"a port lost mid-read, even one seen",
         errorWith(ErrorFacts::Code::PortLost, "/dev/ttyUSB5"),
         {"/dev/ttyUSB5", "disconnected", "plugged in"},
         {"brltty"}},
        {"a busy port",
         errorWith(ErrorFacts::Code::PortBusy, "/dev/ttyUSB0"),
         {"/dev/ttyUSB0", "in use", "ModemManager"}},
        {"no permission",
         errorWith(ErrorFacts::Code::PortPermission, "/dev/ttyUSB0", -1, 1),
         {"/dev/ttyUSB0", "permission denied", "'dialout'", "usermod -aG dialout"}},
        {"out of step",
         errorWith(ErrorFacts::Code::OutOfStep, {}, 0x8020),
         {"out of step", "block 2 (0x8020)"}},
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
        qsizetype from = 0;
        for (const QString& part : row.said) {
            const qsizetype at = text.indexOf(part, from);
            EXPECT_NE(at, -1) << row.what << ": no \"" << part.toStdString()
                              << "\" after the parts before it in\n"
                              << text.toStdString();
            if (at >= 0) from = at + part.size();
        }
        for (const QString& part : row.unsaid) {
            EXPECT_FALSE(text.contains(part)) << row.what << ": " << text.toStdString();
        }
        // The system's or Qt's own words ("Unknown error") never reach the operator, nor
        // does "serial port error" for what is the controller's or the line's doing.
        EXPECT_FALSE(text.contains("english fallback")) << row.what;
        EXPECT_FALSE(text.contains("Device or resource busy")) << row.what;
        EXPECT_FALSE(text.contains("Serial port error")) << row.what;
    }
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
    EXPECT_TRUE(none.contains("No serial port is found") && none.count("plugged in") == 1)
        << none.toStdString();
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
    EXPECT_TRUE(text.contains("block 10 (0x8120)") && text.contains("4 s")) << text.toStdString();
    EXPECT_FALSE(text.contains("4700") || text.contains("4.7")) << text.toStdString();
}

TEST(Advice, AFullDiskIsReportedWithTheBlocksTheFileHolds) {
    SmallTmpfs disk(16);
    if (!disk.mounted()) GTEST_SKIP() << disk.why();
    ProgramImage image(disk.path());
    image.prepare();
    ASSERT_TRUE(disk.leaveFree(2));  // the header and 248 blocks
    Rig rig(&image);
    rig.run();
    ASSERT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_EQ(rig.upload.summary().blocks, 249) << "the upload took one block more than fits";
    const QString part = QString::fromStdString((disk / "duqu.pmw.part").string());
    EXPECT_EQ(Words::keptAfterStop(image),
              "Incomplete: 248 blocks kept in " + part + "; no duqu.pmw was written.");
}

// A port the search could not open says why, in the search's report and in --list-ports
// --probe: the group to join, not merely "permission denied".
TEST(Advice, APortTheSearchCouldNotOpenSaysWhy) {
    const struct {
        const char* what;
        Error error;
        const char* said;
        const char* column;
    } rows[] = {
        {"no device", errorWith(ErrorFacts::Code::PortNotFound, "/dev/ttyUSB3"), "no such device",
         "cannot open: no such device"},
        {"joining the group will do",
         errorWith(ErrorFacts::Code::PortPermission, "/dev/ttyUSB3", -1, 1),
         "in the group 'dialout'", "cannot open: permission denied (group dialout)"},
        {"only root may", errorWith(ErrorFacts::Code::PortPermission, "/dev/ttyUSB3", -1, 0),
         "only root", "cannot open: permission denied (root only)"},
        {"another program holds it", errorWith(ErrorFacts::Code::PortBusy, "/dev/ttyUSB3"),
         "in use", "cannot open: in use"},
    };
    for (const auto& row : rows) {
        const ProbeResult r = ProbeResult::cannotOpen("/dev/ttyUSB3", row.error.facts());
        const QString text = Words::probeOutcome(r);
        EXPECT_TRUE(text.startsWith("/dev/ttyUSB3: ") && text.contains(row.said))
            << row.what << ": " << text.toStdString();
        EXPECT_EQ(PortProbe::column(r), row.column) << row.what;
    }
}
