// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/comm_port.h"

#include <QFileInfo>

#include "protocol/frames.h"
#include "serial/port_name.h"
#include "upload/line_account.h"

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace progread {

#ifndef _WIN32
namespace {

// Qt sets IGNPAR and clears INPCK, so a character with a parity error is dropped unseen and
// the reply merely comes up short. Checked, the tty hands it on as NUL: a visible fault.
bool checkParity(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return false;
    tio.c_iflag |= INPCK;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | PARMRK);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// A pseudo-terminal (major 136-143) passes characters at any speed; a real port at 9600 7E1
// takes 10 bits a character.
long long shortestReply(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    const unsigned m = major(st.st_rdev);
    if (m >= 136 && m <= 143) return 0;
    return static_cast<long long>(kReplyLength) * 10 * 1000 / 9600;
}

}  // namespace
#endif

// The port is a child, so that a test can find it and raise its errors.
CommPort::CommPort(QObject* parent) : QObject(parent), port_(this) {
    port_.setBaudRate(QSerialPort::Baud9600);
    port_.setParity(QSerialPort::EvenParity);
    port_.setDataBits(QSerialPort::Data7);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(static_cast<qint64>(ReplyFramer::kCapacity));
    connect(&port_, &QSerialPort::readyRead, this, &CommPort::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &CommPort::onError);
    nakSettle_.setSingleShot(true);
    nakSettle_.setInterval(static_cast<int>(LineAccount::kSettleMs) + 1);
    connect(&nakSettle_, &QTimer::timeout, this, [this] {
        framer_.settle();
        deliverReplies();
    });
}

void CommPort::setCommPort(const std::string& portName) {
    if (portName == name_) return;
    closePort();
    name_ = portName;
}

void CommPort::openPort() {
    if (port_.isOpen()) return;
    if (name_.empty()) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::NoPortChosen;
        throw Error(ErrorKind::Serial, facts, "no port chosen");
    }
    port_.setPortName(QString::fromStdString(name_));
    if (!port_.open(QIODevice::ReadWrite)) {
        throw openError(name_, port_.error(), port_.errorString());
    }
#ifndef _WIN32
    if (!checkParity(port_.handle())) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        port_.close();
        throw openError(name_, QSerialPort::UnknownError, why);
    }
    shortestReplyMs_ = shortestReply(port_.handle());
#else
    // Windows hands a character with a parity error on as it came; the checksum refuses it.
#endif
    port_.clear();
    framer_.clear();
}

void CommPort::closePort() {
    if (port_.isOpen()) port_.close();
    framer_.clear();
}

void CommPort::Output(Byte ch) {
    const char c = static_cast<char>(ch);
    if (!port_.isOpen() || port_.write(&c, 1) != 1) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::PortWriteFailed;
        facts.subject = name_;
        facts.reason = port_.isOpen() ? port_.errorString().toStdString()
                                      : std::string("the port is not open");
        throw Error(ErrorKind::Serial, facts, "cannot write to " + name_ + ": " + facts.reason);
    }
}

std::string CommPort::Input() {
    return framer_.hasReply() ? framer_.takeReply() : std::string();
}

void CommPort::discardInput() {
    if (port_.isOpen()) {
        port_.readAll();
        port_.clear(QSerialPort::Input);
    }
    framer_.clear();
}

void CommPort::onReadyRead() {
    QByteArray data = port_.readAll();
    if (data.isEmpty()) return;
    data.replace('\0', '?');  // NUL is a parity error, never our text: have the reply refused
    emit charsArrived(static_cast<int>(data.size()));
    framer_.feed(std::string_view(data.constData(), static_cast<std::size_t>(data.size())));
    if (framer_.nakHeld()) nakSettle_.start();
    deliverReplies();
}

void CommPort::deliverReplies() {
    if (delivering_) return;  // a handler that reads again is served by the loop below
    delivering_ = true;
    while (framer_.hasReply()) {
        const std::size_t before = framer_.pending();
        event_ = kEvReceive;
        emit OnComm();
        if (framer_.pending() == before) break;  // nobody read it; never spin
    }
    delivering_ = false;
}

void CommPort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::UnknownError:
            break;
        default:
            return;
    }
    // QSerialPort keeps reporting a lost device for as long as it stays open.
    if (!port_.isOpen()) return;
    const QString why = port_.errorString();
    closePort();
    emit portLost(why);
}

Error lostError(const std::string& portName, const QString& why) {
    ErrorFacts facts;
    facts.code = ErrorFacts::Code::PortLost;
    facts.subject = portName;
    facts.reason = why.toStdString();
    return Error(ErrorKind::Serial, facts,
                 "the port " + portName + " went away (" + facts.reason + "); it has been closed");
}

Error openError(const std::string& portName, QSerialPort::SerialPortError error,
                const QString& systemText) {
    ErrorFacts facts;
    facts.subject = portName;
    facts.reason = systemText.toStdString();
    std::string why;
    switch (error) {
        case QSerialPort::DeviceNotFoundError:
            facts.code = ErrorFacts::Code::PortNotFound;
            why = "no such device";
            break;
        case QSerialPort::PermissionError: {
#ifndef _WIN32
            const QFileInfo device(QString::fromStdString(portName));
            if (device.exists() &&
                ::access(device.filePath().toLocal8Bit().constData(), R_OK | W_OK) != 0) {
                DeviceAccess access;
                access.group = device.group().toStdString();
                access.groupCanReadWrite =
                    device.permission(QFile::ReadGroup) && device.permission(QFile::WriteGroup);
                access.dialoutExists = ::getgrnam("dialout") != nullptr;
                access.uucpExists = ::getgrnam("uucp") != nullptr;
                facts.code = ErrorFacts::Code::PortPermission;
                facts.other = groupToJoin(access);
                facts.count = joiningIsEnough(access) ? 1 : 0;
                why = permissionAdvice(access);
                break;
            }
#endif
            // Root may open anything: a refusal then means another program holds the port.
            facts.code = ErrorFacts::Code::PortBusy;
            why = "in use by another program (" + facts.reason + ")";
            break;
        }
        case QSerialPort::OpenError:
            facts.code = ErrorFacts::Code::PortAlreadyOpen;
            why = "already open";
            break;
        default:
            facts.code = ErrorFacts::Code::PortOpenFailed;
            why = facts.reason;
            break;
    }
    return Error(ErrorKind::Serial, facts, "cannot open " + portName + ": " + why);
}

}  // namespace progread
