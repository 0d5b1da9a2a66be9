// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The serial ports the system has, for the port field's completer and --list-ports.

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace progread {

struct PortEntry {
    QString path;         // /dev/ttyUSB0, COM3
    QString byId;         // /dev/serial/by-id/usb-…, where the system makes one
    QString description;  // "USB-Serial Controller"
    QString manufacturer;
    QString serialNumber;
    bool usb = false;  // a USB serial adapter (it has a USB vendor id)
};

using PortLister = std::function<QList<PortEntry>()>;

// From QSerialPortInfo, with the /dev/serial/by-id/ names that point at each port.
QList<PortEntry> systemPorts();

// The USB adapters this run has seen listed, and the ports it opened: one of them missing now
// was there, and did not just go unplugged.
void notePortSeen(const QString& path);
bool portSeenEarlier(const QString& path);

// One port a line for --list-ports: path, by-id name, description, manufacturer, serial
// number, tab-separated, empty fields kept so that columns stay put.
QString listingLine(const PortEntry& port);

// What the completer offers: each port's path and its by-id name.
QStringList completions(const QList<PortEntry>& ports);

// For messages: the paths, comma-separated; empty when there are none.
QString portPaths(const QList<PortEntry>& ports);

// What the port field shows at start-up: the port of the last read that finished (remembered);
// else the one USB adapter when there is exactly one; else "1", the first serial port.
QString initialPortText(const QString& remembered, const QList<PortEntry>& ports);

}  // namespace progread
