// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/options.h"

namespace progread {

QString usage() {
    return Cli::tr(
        R"(Usage: progread [--port PORT] [--dir DIR] [--fast] [--verify] [--trace FILE] [--lang zh|en]
  or:  progread --read PORT [--compare FILE] [--dir DIR] [--fast] [--verify] [--trace FILE]
                 [--lang zh|en]
  or:  progread --list-ports [--probe]

Reads the program out of a controller on a serial port into duqu.pmw, headed by the first
256 bytes of the template moban.pmw.

  --port PORT    open the window with PORT in the port field (else the port of the last
                 read that finished, else 1)
  --read PORT    read one program without a window; progress and the outcome go to standard
                 error. Exit status 0: a complete image was written; 1: the read failed;
                 129 / 130 / 143: stopped by SIGHUP (terminal closed) / SIGINT (Ctrl-C) /
                 SIGTERM. PORT may be auto: the serial ports are tried, USB adapters first,
                 and the read goes on where the controller answers; auto:PORT,PORT,... tries
                 those ports instead.
  --compare FILE after the read, compare its program with the one in FILE (a program file
                 such as history/duqu-20261206-140312.pmw). Exit status 0: the same;
                 3: they differ; 2: FILE is not a program file.
  --dir DIR      keep the files in DIR instead of the folder named below
  --fast         send each request as soon as the answer before it is handled instead of on
                 the 100 ms tick; only for a controller known to take requests back to back
  --verify       read the program a second time and write the image only when both reads
                 agree byte for byte
  --trace FILE   append every request and answer to FILE, with the time to the millisecond
                 and what became of each answer
  --lang zh|en   the language of messages (default: the system's)
  --list-ports   print the serial ports this system has, one a line: path, /dev/serial/by-id
                 name, description, manufacturer, serial number, separated by tabs
  --probe        with --list-ports: ask each port for block 0 and add a column that says
                 whether a controller answered there
  --help         print this help and exit
  --version      the version, and the version of Qt it runs on

PORT is a port number (1 is the first port: /dev/ttyS0 on Linux, COM1 on Windows) or a
device path such as /dev/ttyUSB0. A usage error, and the window without a display, exit
with status 2.

A read goes to duqu.pmw.part and becomes duqu.pmw only when it is complete; a read that
stops keeps its blocks in duqu.pmw.part. An earlier duqu.pmw stays until a complete read
replaces it, and is then kept in history/ (unless the program read is the same, byte for
byte). moban.pmw is the programming software's template for this controller: copy it from
there into the same folder. These files lie in the program's folder or, where that is not
writable, in Documents/progread of the user.
)");
}

void say(std::FILE* to, const QString& text) {
    std::fputs(text.toUtf8().constData(), to);
}

int usageError(const QString& what) {
    say(stderr, QStringLiteral("progread: ") + what + QLatin1Char('\n') +
                    Cli::tr("(try progread --help)") + QLatin1Char('\n'));
    return 2;
}

Options parse(int argc, char** argv) {
    Options o;
    // Worded later: the language may come after the mistake.
    auto fail = [&](std::function<QString()> error) {
        if (!o.error) o.error = std::move(error);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--fast") {
            o.fast = true;
        } else if (a == "--verify") {
            o.verify = true;
        } else if (a == "--list-ports") {
            o.listPorts = true;
        } else if (a == "--probe") {
            o.probe = true;
        } else {
            std::optional<std::string>* target = a == "--port"      ? &o.port
                                                 : a == "--read"    ? &o.read
                                                 : a == "--dir"     ? &o.dir
                                                 : a == "--trace"   ? &o.trace
                                                 : a == "--lang"    ? &o.lang
                                                 : a == "--compare" ? &o.compare
                                                                    : nullptr;
            if (!target) {
                fail([a] { return Cli::tr("unknown option %1").arg(QString::fromStdString(a)); });
                continue;
            }
            if (i + 1 >= argc) {
                fail([a] { return Cli::tr("%1 needs a value").arg(QString::fromStdString(a)); });
                continue;
            }
            *target = argv[++i];
        }
    }
    if (o.lang && *o.lang != "zh" && *o.lang != "en") {
        fail([lang = *o.lang] {
            return Cli::tr("--lang takes zh or en, not %1").arg(QString::fromStdString(lang));
        });
    }
    if (o.port && o.read)
        fail([] { return Cli::tr("--port is for the window; --read takes its own port"); });
    if (o.compare && !o.read) fail([] { return Cli::tr("--compare goes with --read"); });
    if (o.probe && !o.listPorts) fail([] { return Cli::tr("--probe goes with --list-ports"); });
    return o;
}
}  // namespace progread
