// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For the tests that run the real port against the simulated controller.

#include <signal.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "image/program_image.h"
#include "protocol/checked.h"
#include "temp_dir.h"

namespace progread::testing {

// Runs the event loop until pred holds or ms pass.
inline bool waitUntil(const std::function<bool()>& pred, int ms = 20000) {
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QTest::qWait(5);
    }
    return true;
}

// Sends signo to the child p started, only while it runs: a pid of 0 would signal the
// whole process group, the tests among it.
inline void signalChild(QProcess& p, int signo) {
    const qint64 pid = p.processId();
    if (p.state() != QProcess::NotRunning && pid > 0) ::kill(static_cast<pid_t>(pid), signo);
}

// progread-sim started for one test; stopped (by its own pid) when the test ends.
class Sim {
public:
    explicit Sim(const QStringList& args = {}) {
        process_.start(QStringLiteral(PROGREAD_SIM), args);
        if (process_.waitForStarted(5000) && process_.waitForReadyRead(5000)) {
            port_ = QString::fromLocal8Bit(process_.readLine()).trimmed().toStdString();
        }
    }
    ~Sim() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000)) process_.kill();
            process_.waitForFinished(3000);
        }
    }
    const std::string& port() const { return port_; }
    QString qport() const { return QString::fromStdString(port_); }

private:
    QProcess process_;
    std::string port_;
};

// What a correct image holds, worked out here from the memory the controller served: the
// header, every block up to the one holding the end marker, and the tail.
inline std::vector<Byte> expectedImage(const std::vector<Byte>& templ,
                                       const std::vector<Byte>& memory) {
    std::vector<Byte> image(256, 0);
    for (std::size_t i = 0; i < templ.size() && i < 256; ++i) image[i] = templ[i];
    std::size_t end = 0;
    while (!(memory[end] == 0x0F && memory[end + 1] == 0x00)) end += 2;
    const std::size_t blockEnd = (end / 32 + 1) * 32;
    image.insert(image.end(), memory.begin(), memory.begin() + static_cast<long>(blockEnd));
    for (int k = 0; k < 513; ++k) {
        image.push_back(0xFF);
        image.push_back(0x00);
    }
    return image;
}

// 32 KiB of program memory whose end marker stands in the given block, and nowhere before.
inline std::vector<Byte> memoryWithMarkerInBlock(std::size_t block) {
    std::vector<Byte> memory = patternBytes(32768, 0x21);
    for (std::size_t i = 0; i + 1 < memory.size(); i += 2) {
        if (memory[i] == 0x0F && memory[i + 1] == 0x00) memory[i + 1] = 0x55;
    }
    memory[block * 32 + 10] = 0x0F;
    memory[block * 32 + 11] = 0x00;
    return memory;
}

// How a program run to its end came out.
struct Outcome {
    int exitCode = -1;  // -1: it crashed or was killed
    QString stdErr;
    QString stdOut;
};

// As an operator's script would run it: no display at all.
inline QProcessEnvironment headlessEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    return env;
}

inline Outcome runProgread(const QStringList& args,
                           const QString& program = QStringLiteral(PROGREAD_EXE),
                           const QProcessEnvironment& env = headlessEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()),
            QString::fromUtf8(p.readAllStandardOutput())};
}

inline QString str(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

}  // namespace progread::testing
