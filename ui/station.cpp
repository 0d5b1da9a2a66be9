#include "ui/station.h"

namespace progread {

Station::Station(const std::filesystem::path& dir, UploadView& view, QObject* parent)
    : QObject(parent), image(dir), upload(MSComm1, *this, image, view) {
    clock_.start();
    Timer1.setInterval(kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, [this] { upload.Timer1_Timer(); });
    connect(&MSComm1, &CommPort::OnComm, this, [this] { upload.MSComm1_OnComm(); });
    connect(&MSComm1, &CommPort::portLost, this, [this](const QString& message) {
        upload.fail(Error(ErrorKind::Serial, message.toStdString()));
    });
}

void Station::setTimerEnabled(bool enabled) {
    if (enabled && !Timer1.isActive()) Timer1.start();
    if (!enabled) Timer1.stop();
}

void Station::restartPeriod() {
    if (Timer1.isActive()) Timer1.start();
}

void Station::changePort(const std::string& portName) {
    if (portName == MSComm1.portName()) return;
    MSComm1.setCommPort(portName);  // closes the old port
    upload.portChanged(portName);
}

std::string Station::prepareImage() {
    const PrepareReport report = image.prepare();
    const std::string templ = image.templatePath().string();
    if (report.templateMissing) {
        return "No template " + templ + ": an empty one was created, and the image's header is 256 "
               "zero bytes, which the programming software may reject.";
    }
    if (!report.headerComplete()) {
        return "The template " + templ + " has only " + std::to_string(report.templateBytes) +
               " of 256 header bytes; the rest of the header is zeros, which the programming "
               "software may reject.";
    }
    return {};
}

}  // namespace progread
