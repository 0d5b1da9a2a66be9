#pragma once

// What the window and the headless mode share: the port, the 100 ms timer, the image file
// and the one upload that drives them. A lost port stops the upload here; the owner routes
// the timer's ticks and the port's notifications to the upload's handlers.

#include <QObject>
#include <QTimer>
#include <filesystem>

#include "image/program_image.h"
#include "serial/comm_port.h"
#include "upload/upload.h"

namespace progread {

class Station : public QObject, public Ticker {
    Q_OBJECT

public:
    static constexpr int kTickMs = 100;

    Station(const std::filesystem::path& dir, UploadView& view, QObject* parent = nullptr);

    void setTimerEnabled(bool enabled) override;
    bool timerEnabled() const override { return Timer1.isActive(); }

    // Prepares the image (raises a File error when it cannot be). Returns a warning for the
    // operator when the template gave less than a whole header, else an empty text.
    std::string prepareImage();

    CommPort MSComm1;
    QTimer Timer1;
    ProgramImage image;
    Upload upload;
};

}  // namespace progread
