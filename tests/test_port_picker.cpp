// SPDX-License-Identifier: GPL-3.0-or-later
// Picking the port: the list of the system's ports, the field's first text, --list-ports.

#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QCompleter>

#include "operator_helpers.h"
#include "qt_helpers.h"
#include "temp_dir.h"
#include "ui/form1.h"
#include "ui/port_list.h"
#include "ui/port_probe.h"

using namespace progread;
using namespace progread::testing;

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

// The field's first text, and the order 自动 tries the ports in: USB adapters first, as the
// controller is most often on one.
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
        QStringList searched;
    } rows[] = {
        {"/dev/ttyUSB3", {builtIn, usb0}, "/dev/ttyUSB3", {"/dev/ttyUSB0", "/dev/ttyS0"}},
        {"", {builtIn, usb0}, "/dev/ttyUSB0", {"/dev/ttyUSB0", "/dev/ttyS0"}},
        {" ", {usb0}, "/dev/ttyUSB0", {"/dev/ttyUSB0"}},
        {"", {builtIn, usb0, usb1}, "1", {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"}},
        {"", {builtIn}, "1", {"/dev/ttyS0"}},
        {"", {}, "1", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(initialPortText(row.remembered, row.ports), row.first)
            << row.remembered.toStdString() << ", " << row.ports.size() << " ports";
        EXPECT_EQ(PortProbe::candidates(QStringLiteral("自动"), [&] { return row.ports; }),
                  row.searched)
            << row.ports.size() << " ports";
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
