#include "ui/app.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "serial/port_name.h"
#include "ui/form1.h"
#include "ui/headless.h"
#include "ui/startup_trace.h"

namespace progread {

namespace {

constexpr const char* kUsage = R"(Usage: progread [--port PORT] [--dir DIR] [--fast]
  or:  progread --read PORT [--dir DIR] [--fast]

Reads the program out of a controller on a serial port into duqu.pmw, headed by the first
256 bytes of the template moban.pmw.

  --port PORT   open the window with PORT in the port field
  --read PORT   read one program without a window; progress and the outcome go to standard
                error. Exit status 0: a complete image was written; 1: the upload failed.
  --dir DIR     keep moban.pmw and duqu.pmw in DIR instead of the program's directory
  --fast        send each request as soon as the answer before it is handled instead of on
                the 100 ms tick; only for a controller known to take requests back to back
  --help        this text
  --version     the version, and the version of Qt it runs on

PORT is a port number (1 is the first port: /dev/ttyS0 on Linux, COM1 on Windows) or a
device path such as /dev/ttyUSB0. A usage error exits with status 2.
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

// Where moban.pmw and duqu.pmw lie; needs the application object.
std::filesystem::path fileDir(const Options& o) {
    if (o.dir) return *o.dir;
    return QCoreApplication::applicationDirPath().toStdString();
}

}  // namespace

int runProgread(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
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
        HeadlessRead read(fileDir(o), portName);
        read.setBackToBack(o.fast);
        return read.exec();
    }

    QApplication app(argc, argv);
    Form1 form(fileDir(o), QString::fromStdString(o.port.value_or("1")));
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
