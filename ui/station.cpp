// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/station.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>
#include <optional>

#include "image/folder_lock.h"
#include "image/portable_file.h"
#include "ui/words.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace progread {

Station::Station(const std::filesystem::path& dir, UploadView& view, QObject* parent)
    : QObject(parent), image(dir), upload(MSComm1, *this, image, view) {
    // One tick at a time, the next one armed once this one's work is done. A repeating timer
    // keeps to its schedule: after a tick that came late (a busy machine) the next one comes
    // early, and two requests would go less than a period apart.
    Timer1.setSingleShot(true);
    Timer1.setInterval(kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, &Station::tick);
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, [this] { upload.wake(); });
    connect(&MSComm1, &CommPort::charsArrived, this, [this](int n) { upload.charsHeard(n); });
    connect(&MSComm1, &CommPort::OnComm, this, [this] { upload.MSComm1_OnComm(); });
    // The line's record per device, for the next process on it, whoever runs it.
    records_ = std::make_unique<LineRecordFiles>(lineRecordFolders());
    records_->setTrouble([&view](const std::string& why) { view.lineRecordTrouble(why); });
    upload.setLineRecords(records_.get());
    connect(&MSComm1, &CommPort::portLost, this,
            [this](const QString& why) { upload.fail(lostError(MSComm1.portName(), why)); });
}

std::vector<std::filesystem::path> Station::lineRecordFolders() {
    // Where serial lock files live, else in the user's runtime folder. PROGREAD_LINE_DIR names
    // one folder instead (tests side by side on reused pseudo-terminals).
    std::vector<std::filesystem::path> dirs;
    if (const QString own = qEnvironmentVariable("PROGREAD_LINE_DIR"); !own.isEmpty()) {
        dirs.emplace_back(own.toStdU16String());
        return dirs;
    }
#ifndef _WIN32
    dirs.emplace_back("/run/lock");
#endif
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    dirs.emplace_back(runtime.toStdU16String());
    return dirs;
}

void Station::tick() {
    inTick_ = true;
    stoppedInTick_ = false;
    upload.Timer1_Timer();
    inTick_ = false;
    if (!stoppedInTick_ && !Timer1.isActive()) Timer1.start();
}

void Station::setTimerEnabled(bool enabled) {
    if (!enabled) {
        Timer1.stop();
        stoppedInTick_ = inTick_;
    } else if (inTick_) {
        stoppedInTick_ = false;  // armed when the tick is done
    } else if (!Timer1.isActive()) {
        Timer1.start();
    }
}

void Station::wakeAt(long long ms) {
    wake_.start(static_cast<int>(std::clamp(ms - nowMs(), 0LL, 60'000LL)));
}

void Station::restartPeriod() {
    // During a tick the period starts anew once the tick is done.
    if (Timer1.isActive()) Timer1.start();
}

void Station::changePort(const std::string& portName) {
    if (portName == MSComm1.portName()) return;
    MSComm1.setCommPort(portName);  // closes the old port
    upload.portChanged(portName);
}

Station::FolderHandle::~FolderHandle() {
#ifndef _WIN32
    if (fd >= 0) ::close(fd);
#endif
}

// QLockFile takes a QString, and Qt makes bytes of it as UTF-8: a folder named in GBK would
// be another one. Such a folder is reached through a handle on it instead.
QString Station::lockName(const std::filesystem::path& lock) {
#ifdef _WIN32
    return QString::fromStdU16String(lock.u16string());
#else
    const QByteArray bytes = QByteArray::fromStdString(lock.native());
    const QString name = QFile::decodeName(bytes);
#ifdef Q_OS_LINUX
    if (QFile::encodeName(name) != bytes) {
        if (lockFolder_.fd < 0)
            lockFolder_.fd = ::open(lock.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (lockFolder_.fd >= 0) {
            return QStringLiteral("/proc/self/fd/%1/").arg(lockFolder_.fd) +
                   QFile::decodeName(QByteArray::fromStdString(lock.filename().native()));
        }
    }
#endif
    return name;
#endif
}

QString Station::prepareImage() {
    const std::filesystem::path dir = image.imagePath().parent_path();
    image.makeFolder();  // the lock goes in it
    if (!folderLock_) {
        const std::filesystem::path lockPath = dir / kLockName;
        checkLockPath(lockPath);  // QLockFile would wait for ever on a pipe
        for (int attempt = 0; attempt < 3 && !folderLock_; ++attempt) {
            auto lock = std::make_unique<QLockFile>(lockName(lockPath));
            lock->setStaleLockTime(0);  // stale only when its process is gone
            if (lock->tryLock(0)) {
                folderLock_ = std::move(lock);
                break;
            }
            // A folder the lock cannot be written in cannot take the image either: prepare()
            // says so with the path and the reason.
            if (lock->error() != QLockFile::LockFailedError) break;
            qint64 pid = 0;
            QString host, app;
            std::optional<LockHolder> holder;
            if (lock->getLockInfo(&pid, &host, &app))
                holder = LockHolder{pid, host.isEmpty() || host == QSysInfo::machineHostName()};
            refusedLock(lockPath, holder, attempt < 2);
        }
    }
    PrepareReport report;
    try {
        report = image.prepare();
    } catch (const Error&) {
        folderLock_.reset();  // a start-up that failed holds no folder
        throw;
    }
    // Paths are wide on Windows: no narrow string in between.
    const QString templ = QString::fromStdString(shownPath(image.templatePath()));
    if (report.templateMissing) return Words::templateMissing(templ);
    if (!report.headerComplete())
        return Words::templateShort(templ, static_cast<long>(report.templateBytes));
    return {};
}

}  // namespace progread
