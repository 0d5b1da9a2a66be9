// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSet>
#include <algorithm>

namespace progread {

namespace {

QSet<QString>& seenPorts() {
    static QSet<QString> seen;
    return seen;
}

}  // namespace

void notePortSeen(const QString& path) {
    if (!path.isEmpty()) seenPorts().insert(path);
}

bool portSeenEarlier(const QString& path) {
    return seenPorts().contains(path);
}

QList<PortEntry> systemPorts() {
    QList<PortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortEntry e;
#ifdef Q_OS_WIN
        e.path = info.portName();  // COM3, as Device Manager names it, not \\.\COM3
#else
        e.path = info.systemLocation();
#endif
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        e.serialNumber = info.serialNumber();
        e.usb = info.hasVendorIdentifier();
        ports << e;
    }
    // A name that stays the same whichever socket the adapter is plugged into.
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link :
         byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        const QString target = link.canonicalFilePath();
        for (PortEntry& e : ports) {
            if (!target.isEmpty() && QFileInfo(e.path).canonicalFilePath() == target)
                e.byId = link.filePath();
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const PortEntry& a, const PortEntry& b) { return a.path < b.path; });
    for (const PortEntry& e : ports) {
        if (!e.usb) continue;
        notePortSeen(e.path);
        notePortSeen(e.byId);
    }
    return ports;
}

QString listingLine(const PortEntry& port) {
    QStringList fields{port.path, port.byId, port.description, port.manufacturer,
                       port.serialNumber};
    // A tab or line break inside a field would shift the columns of a script reading them.
    for (QString& f : fields)
        f.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return fields.join(QLatin1Char('\t'));
}

QStringList completions(const QList<PortEntry>& ports) {
    QStringList names;
    for (const PortEntry& p : ports) {
        names << p.path;
        if (!p.byId.isEmpty()) names << p.byId;
    }
    return names;
}

QString portPaths(const QList<PortEntry>& ports) {
    QStringList paths;
    for (const PortEntry& p : ports) paths << p.path;
    return paths.join(QStringLiteral(", "));
}

QString initialPortText(const QString& remembered, const QList<PortEntry>& ports) {
    if (!remembered.trimmed().isEmpty()) return remembered.trimmed();
    const auto usb =
        std::count_if(ports.begin(), ports.end(), [](const PortEntry& p) { return p.usb; });
    if (usb == 1) {
        for (const PortEntry& p : ports) {
            if (p.usb) return p.path;
        }
    }
    return QStringLiteral("1");
}

}  // namespace progread
