#include "ui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <QStandardPaths>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "image/program_image.h"
#include "serial/port_name.h"
#include "ui/file_report.h"
#include "ui/form1.h"
#include "ui/headless.h"
#include "ui/startup_trace.h"
#include "ui/stop_signals.h"

namespace progread {

namespace {

constexpr const char* kUsage = R"(Usage: progread [--port PORT] [--dir DIR] [--fast]
  or:  progread --read PORT [--dir DIR] [--fast]

Reads the program out of a controller on a serial port into duqu.pmw, headed by the first
256 bytes of the template moban.pmw.

  --port PORT   open the window with PORT in the port field
  --read PORT   read one program without a window; progress and the outcome go to standard
                error. Exit status 0: a complete image was written; 1: the upload failed;
                130 / 143: stopped by SIGINT (Ctrl-C) / SIGTERM.
  --dir DIR     keep the files in DIR instead of the folder named at the end
  --fast        send each request as soon as the answer before it is handled instead of on
                the 100 ms tick; only for a controller known to take requests back to back
  --help        this text
  --version     the version, and the version of Qt it runs on

PORT is a port number (1 is the first port: /dev/ttyS0 on Linux, COM1 on Windows) or a
device path such as /dev/ttyUSB0. A usage error exits with status 2.

A read goes to duqu.pmw.part and becomes duqu.pmw only when it is complete; a read that
stops keeps its blocks in duqu.pmw.part. An earlier duqu.pmw is moved into history/. These
files lie in the program's folder or, where that is not writable, in Documents/progread of
the user.
)";

struct Options {
    std::optional<std::string> port;
    std::optional<std::string> read;
    std::optional<std::string> dir;
    bool fast = false;
};

int usageError(const std::string& what) {
    std::fprintf(stderr, "progread: %s\n(try progread --help)\n", what.c_str());
    return 2;
}

std::filesystem::path toPath(const QString& s) {
    return std::filesystem::path(s.toStdU16String());
}

// Where the files lie; needs the application object. create: make the per-user folder when
// it is missing (a failure shows at start-up, naming it).
FileDir fileDir(const Options& o, bool create) {
    if (o.dir) return {*o.dir, FileDir::Source::Given};
    const std::filesystem::path program = toPath(QCoreApplication::applicationDirPath());
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (isWritableDir(program) || documents.isEmpty()) return {program, FileDir::Source::Program};
    // An installed tool: its folder is not the operator's to write in.
    std::filesystem::path user = toPath(documents) / "progread";
    if (create) {
        std::error_code ec;
        std::filesystem::create_directories(user, ec);
    }
    return {user, FileDir::Source::User};
}

}  // namespace

int runProgread(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            QCoreApplication app(argc, argv);
            std::fputs(kUsage, stdout);
            std::printf("\n%s\n", qPrintable(FileReport::where(fileDir(o, false))));
            return 0;
        }
        if (a == "--version") {
            std::printf("progread %s\nQt %s (built with %s)\n", PROGREAD_VERSION, qVersion(),
                        QT_VERSION_STR);
            return 0;
        }
        if (a == "--fast") {
            o.fast = true;
            continue;
        }
        std::optional<std::string>* target = a == "--port" ? &o.port
                                             : a == "--read" ? &o.read
                                             : a == "--dir"  ? &o.dir
                                                             : nullptr;
        if (!target) return usageError("unknown option " + a);
        if (i + 1 >= argc) return usageError(a + " needs a value");
        *target = argv[++i];
    }
    if (o.port && o.read) return usageError("--port is for the window; --read takes its own port");

    if (o.read) {
        std::string portName;
        try {
            portName = portNameFor(*o.read);
        } catch (const Error& e) {
            return usageError("--read " + *o.read + ": " + e.description());
        }
        QCoreApplication app(argc, argv);
        HeadlessRead read(fileDir(o, true), portName);
        read.setBackToBack(o.fast);
        return read.exec();
    }

    QApplication app(argc, argv);
    // Closed as the operator would close it: a read in progress keeps its .part. Caught from
    // here on, so that a stop request during start-up is answered once the window is up.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &app, &QApplication::closeAllWindows);
    Form1 form(fileDir(o, true), QString::fromStdString(o.port.value_or("1")));
    QString error;
    if (!form.Form_Load(&error)) {
        QMessageBox::critical(nullptr, QStringLiteral("Form1"),
                              QObject::tr("The image file cannot be prepared:\n%1").arg(error));
        return 1;
    }
    form.setBackToBack(o.fast);
    form.show();
    traceWindowShown(form);
    return app.exec();
}

}  // namespace progread
