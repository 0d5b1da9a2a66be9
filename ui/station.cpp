#include "ui/station.h"

namespace progread {

Station::Station(const std::filesystem::path& dir, UploadView& view, QObject* parent)
    : QObject(parent), image(dir), upload(MSComm1, *this, image, view) {
    Timer1.setInterval(kTickMs);
    Timer1.setTimerType(Qt::PreciseTimer);
    connect(&MSComm1, &CommPort::portLost, this, [this](const QString& message) {
        upload.fail(Error(ErrorKind::Serial, message.toStdString()));
    });
}

void Station::setTimerEnabled(bool enabled) {
    if (enabled && !Timer1.isActive()) Timer1.start();
    if (!enabled) Timer1.stop();
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
