#include "ui/station.h"

#include <QDir>
#include <QStandardPaths>
#include <algorithm>

namespace progread {

Station::Station(const std::filesystem::path& dir, UploadView& view, QObject* parent)
    : QObject(parent), image(dir), upload(MSComm1, *this, image, view) {
    Timer1.setInterval(kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, [this] { upload.Timer1_Timer(); });
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    connect(&wake_, &QTimer::timeout, this, [this] { upload.wake(); });
    connect(&MSComm1, &CommPort::charsArrived, this, [this] { upload.charsHeard(); });
    connect(&MSComm1, &CommPort::OnComm, this, [this] { upload.MSComm1_OnComm(); });
    // The line's record per port, for the next process on the same port.
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    records_ = std::make_unique<LineRecordFiles>(std::filesystem::path(runtime.toStdU16String()));
    upload.setLineRecords(records_.get());
    connect(&MSComm1, &CommPort::portLost, this,
            [this](const QString& why) { upload.fail(lostError(MSComm1.portName(), why)); });
}

void Station::setTimerEnabled(bool enabled) {
    if (enabled && !Timer1.isActive()) Timer1.start();
    if (!enabled) Timer1.stop();
}

void Station::wakeAt(long long ms) {
    wake_.start(static_cast<int>(std::clamp(ms - nowMs(), 0LL, 60'000LL)));
}

void Station::restartPeriod() {
    if (Timer1.isActive()) Timer1.start();
}

void Station::changePort(const std::string& portName) {
    if (portName == MSComm1.portName()) return;
    MSComm1.setCommPort(portName);  // closes the old port
    upload.portChanged(portName);
}

QString Station::prepareImage() {
    const std::filesystem::path dir = image.imagePath().parent_path();
    if (!folderLock_) {
        auto lock = std::make_unique<QLockFile>(
            QString::fromStdU16String((dir / "duqu.pmw.lock").u16string()));
        lock->setStaleLockTime(0);  // stale only when its process is gone
        if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError) {
            qint64 pid = 0;
            QString host, app;
            const bool known = lock->getLockInfo(&pid, &host, &app);
            ErrorFacts facts;
            facts.code = ErrorFacts::Code::FolderInUse;
            facts.subject = dir.string();
            facts.count = known ? static_cast<int>(pid) : 0;
            throw Error(ErrorKind::File, facts,
                        "another progread" +
                            (known ? " (process " + std::to_string(pid) + ")" : std::string()) +
                            " is using the folder " + dir.string() +
                            "; close it first, or give this one another folder with --dir");
        }
        // A folder the lock cannot be written in cannot take the image either: prepare()
        // says so with the path and the reason.
        if (lock->isLocked()) folderLock_ = std::move(lock);
    }
    const PrepareReport report = image.prepare();
    // Paths are wide on Windows: no narrow string in between.
    const QString templ = QString::fromStdU16String(image.templatePath().u16string());
    if (report.templateMissing) {
        return tr("No template %1: an empty one was created, and the image's header is 256 zero "
                  "bytes, which "
                  "the programming software may reject. Copy the template moban.pmw there.")
            .arg(templ);
    }
    if (!report.headerComplete()) {
        return tr("The template %1 has only %2 of 256 header bytes; the rest of the header is "
                  "zeros, which "
                  "the programming software may reject.")
            .arg(templ)
            .arg(report.templateBytes);
    }
    return {};
}

}  // namespace progread
