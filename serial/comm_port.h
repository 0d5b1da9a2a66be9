// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// MSComm1: the serial port the window talks to the controller through. 9600 baud, even
// parity, 7 data bits, 1 stop bit, no flow control. OnComm is raised once a whole reply is
// waiting, and Input returns exactly that reply, however the line chunked or glued it.

#include <QObject>
#include <QSerialPort>
#include <QTimer>
#include <string>

#include "protocol/reply_framer.h"
#include "upload/links.h"

namespace progread {

class CommPort : public QObject, public SerialLink {
    Q_OBJECT

public:
    explicit CommPort(QObject* parent = nullptr);

    // The device the next open uses. An open port on another device is closed first.
    void setCommPort(const std::string& portName);
    std::string portName() const override { return name_; }

    bool PortOpen() const override { return port_.isOpen(); }
    void openPort() override;
    void closePort();
    void Output(Byte ch) override;
    int CommEvent() const override { return event_; }
    std::string Input() override;
    std::string takeTorn() override { return framer_.takeTorn(); }
    std::string pendingFrame() const override { return framer_.frame(); }
    void discardInput() override;
    long long shortestReplyMs() const override { return shortestReplyMs_; }

signals:
    // Characters came, before any of them makes a whole answer: the line is not quiet.
    void charsArrived(int count);
    void OnComm();
    // The port went away while open (adapter unplugged, line closed), with the system's
    // words. Raised once: the port is closed before it is raised.
    void portLost(const QString& why);

private:
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void deliverReplies();

    QSerialPort port_;
    ReplyFramer framer_;
    std::string name_;
    int event_ = 0;
    bool delivering_ = false;
    long long shortestReplyMs_ = 0;
    QTimer nakSettle_;  // a NAK is an answer once nothing followed it for the settle time
};

// Why a port could not be opened, as facts (and in English).
Error openError(const std::string& portName, QSerialPort::SerialPortError error,
                const QString& systemText);
// The port went away while open.
Error lostError(const std::string& portName, const QString& why);

}  // namespace progread
