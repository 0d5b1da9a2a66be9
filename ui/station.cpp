#include "ui/station.h"

namespace progread {

Station::Station(const std::filesystem::path& dir, UploadView& view, QObject* parent)
    : QObject(parent), image(dir), upload(MSComm1, *this, image, view) {
    clock_.start();
    Timer1.setInterval(kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&Timer1, &QTimer::timeout, this, [this] { upload.Timer1_Timer(); });
    connect(&MSComm1, &CommPort::OnComm, this, [this] { upload.MSComm1_OnComm(); });
    connect(&MSComm1, &CommPort::portLost, this,
            [this](const QString& why) { upload.fail(lostError(MSComm1.portName(), why)); });
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

QString Station::prepareImage() {
    const PrepareReport report = image.prepare();
    const QString templ = QString::fromStdString(image.templatePath().string());
    if (report.templateMissing) {
        return tr("No template %1: an empty one was created, and the image's header is 256 zero bytes, which "
                  "the programming software may reject. Copy the template moban.pmw there.")
            .arg(templ);
    }
    if (!report.headerComplete()) {
        return tr("The template %1 has only %2 of 256 header bytes; the rest of the header is zeros, which "
                  "the programming software may reject.")
            .arg(templ)
            .arg(report.templateBytes);
    }
    return {};
}

}  // namespace progread
