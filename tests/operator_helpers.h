// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For the tests of what the operator sees: progread run as a script runs it, a read in the
// window, the ports of a system with a USB adapter, an error with its facts.

#include <QProcessEnvironment>
#include <QStringList>

#include "protocol/error.h"
#include "qt_helpers.h"
#include "ui/form1.h"
#include "ui/port_list.h"

namespace progread::testing {

// Presses 读入 and waits until the read has ended, however it ended; false when it went on.
inline bool readToEnd(Form1& w, int ms = 20000) {
    QTest::mouseClick(w.Command1, Qt::LeftButton);
    return waitUntil([&] { return !w.upload().running(); }, ms);
}

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// progread as a script runs it: no display.
inline ToolRun runTool(const QStringList& args, const QStringList& extraEnv = {}) {
    QProcessEnvironment env = headlessEnvironment();
    for (const QString& e : extraEnv) env.insert(e.section('=', 0, 0), e.section('=', 1));
    const Outcome o = runProgread(args, QStringLiteral(PROGREAD_EXE), env);
    return {o.exitCode, o.stdOut, o.stdErr};
}

inline QList<PortEntry> fakePorts() {
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

inline Error errorWith(ErrorFacts::Code code, const std::string& subject = {}, long address = -1,
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

}  // namespace progread::testing
