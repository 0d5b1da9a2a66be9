// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/app.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTranslator>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "image/portable_file.h"
#include "image/program_image.h"
#include "serial/port_name.h"
#include "ui/file_report.h"
#include "ui/form1.h"
#include "ui/headless.h"
#include "ui/options.h"
#include "ui/port_list.h"
#include "ui/port_probe.h"
#include "ui/startup_trace.h"
#include "ui/stop_signals.h"
#include "ui/trace_file.h"
#include "ui/words.h"

namespace progread {

namespace {

// Qt's slashes made Windows' backslashes, as the operator reads paths there.
std::filesystem::path toPath(const QString& s) {
    return std::filesystem::path(s.toStdU16String()).make_preferred();
}

// A name from the command line as the system's own bytes: it need not be UTF-8 (a folder
// named in GBK), and converting it would throw or name another file.
std::filesystem::path argPath(const std::string& arg) {
#ifdef _WIN32
    return pathFromUtf8(arg);
#else
    return std::filesystem::path(arg);
#endif
}

// A path as it can be shown: UTF-8 as it is, any other byte as \xB2, so that the operator
// still sees which folder it was.
QString shown(const std::filesystem::path& p) {
    return QString::fromStdString(shownPath(p));
}

// The program's folder by the system's bytes; Qt gives an empty one when the name is not
// UTF-8.
std::filesystem::path programDir() {
#ifdef Q_OS_LINUX
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && std::filesystem::exists(exe, ec)) return exe.parent_path();
#endif
    return toPath(QCoreApplication::applicationDirPath());
}

// Where the files lie; needs the application object. create: make the per-user folder when
// it is missing (a failure shows at start-up, naming it).
FileDir fileDir(const Options& o, bool create) {
    if (o.dir) return {argPath(*o.dir), FileDir::Source::Given};
    const std::filesystem::path program = programDir();
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

// zh_CN when asked, or when the system's language is Chinese; else the English source.
void installTranslations(QCoreApplication& app, const Options& o) {
    const bool chinese = o.lang && (*o.lang == "zh" || *o.lang == "en")
                             ? *o.lang == "zh"
                             : QLocale::system().language() == QLocale::Chinese;
    if (!chinese) return;
    auto* ours = new QTranslator(&app);
    if (ours->load(QStringLiteral(":/i18n/progread_zh_CN.qm"))) app.installTranslator(ours);
    // Qt's own buttons and dialogs, where Qt's translations are installed.
    auto* qt = new QTranslator(&app);
    if (qt->load(QStringLiteral("qtbase_zh_CN"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(qt);
    }
}

// Whether a window could be shown; on Linux without X or Wayland, QApplication would abort.
bool haveDisplay() {
#if defined(Q_OS_LINUX)
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// Where a name leads: links followed to their end even when that is not there yet (appending
// would create it there), then made canonical as far as it exists.
std::filesystem::path resolved(std::filesystem::path p) {
    namespace fs = std::filesystem;
    std::error_code ec;
    p = fs::absolute(p, ec);
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++hops) {
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    const fs::path canonical = fs::weakly_canonical(p, ec);
    return ec ? p.lexically_normal() : canonical;
}

// The image folder's file that path would write into, if any: a trace appended to the image,
// its .part, the lock, the template or a kept image would spoil it.
std::optional<std::filesystem::path> ownFile(const std::filesystem::path& path,
                                             const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    const fs::path at = resolved(path);
    const fs::path folder = resolved(dir);
    const std::string image = kImageName;
    for (const fs::path& own :
         {folder / image, folder / kPartName, folder / (image + ".lock"), folder / kTemplateName}) {
        std::error_code ec;  // equivalent(): a hard link too, when both are there
        if (at == own || fs::equivalent(at, own, ec)) return own;
    }
    const fs::path history = resolved(dir / kHistoryDir);
    if (std::mismatch(history.begin(), history.end(), at.begin(), at.end()).first == history.end())
        return at;
    return {};
}

// --trace: opened before the read, so that a file that cannot be written is said at once.
std::unique_ptr<TraceFile> openTrace(const Options& o, const FileDir& dir, QString* error) {
    if (!o.trace) return {};
    const std::filesystem::path path = argPath(*o.trace);
    if (const auto own = ownFile(path, dir.path)) {
        *error = Cli::tr(
                     "--trace %1 would write into %2, one of progread's own files; give the "
                     "trace another name")
                     .arg(shown(path), shown(*own));
        return {};
    }
    auto trace = std::make_unique<TraceFile>();
    QString why;
    if (!trace->open(path, &why)) {
        *error = Cli::tr("cannot open the trace file %1: %2").arg(shown(path), why);
        return {};
    }
    trace->takeQtMessages();
    return trace;
}

}  // namespace

namespace {

void tell(const QString& text) {
    say(stderr, QStringLiteral("progread: ") + text + QLatin1Char('\n'));
}

// --read auto: the port where the controller answers, and what was tried (said again in the
// summary); nothing when none answered, which is said.
std::optional<std::string> searchedPort(const QStringList& candidates, QString* search) {
    tell(Words::lookingForController());
    QList<ProbeResult> tried;
    const auto found = PortProbe::find(candidates, &tried);
    *search = Words::portsTried(tried);
    if (!found) {
        tell(Words::noControllerAnswered(*search));
        tell(Words::headline({Ending::How::Failed, {}, {}}));
        return {};
    }
    tell(Words::controllerFound(*found));
    return found->toStdString();
}

// --read PORT [--compare FILE]: the exit status.
int readWithoutWindow(const Options& o) {
    // Read before anything is moved: FILE may be the very duqu.pmw this read replaces.
    std::optional<std::vector<Byte>> compareWith;
    if (o.compare) {
        QString why;
        compareWith = FileReport::programOf(argPath(*o.compare), &why);
        if (!compareWith) return usageError(QStringLiteral("--compare: ") + why);
    }
    std::string portName;
    QString search;
    if (const auto candidates =
            PortProbe::candidates(QString::fromStdString(*o.read), systemPorts)) {
        const auto found = searchedPort(*candidates, &search);
        if (!found) return 1;
        portName = *found;
    } else {
        try {
            portName = portNameFor(*o.read);
        } catch (const Error& e) {
            return usageError(QStringLiteral("--read %1: %2")
                                  .arg(QString::fromStdString(*o.read), Words::error(e)));
        }
    }
    QString traceError;
    const std::unique_ptr<TraceFile> trace = openTrace(o, fileDir(o, false), &traceError);
    if (!traceError.isEmpty()) return usageError(traceError);
    HeadlessRead read(fileDir(o, true), portName);
    read.setBackToBack(o.fast);
    read.setVerify(o.verify);
    read.setTrace(trace.get());
    read.setSearch(search);
    if (compareWith) read.setCompare(argPath(*o.compare), std::move(*compareWith));
    return read.exec();
}

// Everything but the window: usage errors, --help, --version, --list-ports, --read.
int withoutWindow(const Options& o) {
    if (o.error) return usageError(o.error());
    if (o.help) {
        say(stdout, usage());
        say(stdout, QLatin1Char('\n') + Words::filesKeptIn(fileDir(o, false)) + QLatin1Char('\n'));
        return 0;
    }
    if (o.version) {
        std::printf("progread %s\nQt %s (built with %s)\n", PROGREAD_VERSION, qVersion(),
                    QT_VERSION_STR);
        return 0;
    }
    if (o.listPorts) {
        const QList<PortEntry> ports = systemPorts();
        QStringList paths;
        for (const PortEntry& port : ports) paths << port.path;
        const QList<ProbeResult> probed =
            o.probe ? PortProbe::probeEach(paths) : QList<ProbeResult>();
        for (qsizetype i = 0; i < ports.size(); ++i) {
            QString line = listingLine(ports[i]);
            if (o.probe) line += QLatin1Char('\t') + PortProbe::column(probed[i]);
            say(stdout, line + QLatin1Char('\n'));
        }
        return 0;
    }
    if (!o.read) {
        say(stderr,
            Cli::tr("progread: no display was found, so the window cannot open. To read without "
                    "a window: progread --read PORT (progread --help says more).") +
                QLatin1Char('\n'));
        return 2;
    }
    return readWithoutWindow(o);
}

int withWindow(QApplication& app, const Options& o) {
    QString traceError;
    const std::unique_ptr<TraceFile> trace = openTrace(o, fileDir(o, false), &traceError);
    if (!traceError.isEmpty()) return usageError(traceError);
    // Closed as the operator would close it: a read in progress keeps its .part. Caught from
    // here on, so that a stop request during start-up is answered once the window is up.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &app, &QApplication::closeAllWindows);
    Form1 form(fileDir(o, true), o.port ? QString::fromStdString(*o.port) : Form1::initialPort());
    QString error;
    if (!form.Form_Load(&error)) {
        QMessageBox::critical(nullptr, QStringLiteral("Form1"),
                              Cli::tr("The image file cannot be prepared:\n%1").arg(error));
        return 1;
    }
    form.setBackToBack(o.fast);
    form.setVerify(o.verify);
    form.setTrace(trace.get());
    form.show();
    traceWindowShown(form);
    return app.exec();
}

}  // namespace

int runProgread(int argc, char** argv) {
    const Options o = parse(argc, argv);
    // Before the application object: Qt warns while it starts (XDG_RUNTIME_DIR not set in a
    // root shell or a container), in English, nothing for the operator to act on.
    catchQtMessages(o.trace.has_value());
    const bool window = !o.error && !o.help && !o.version && !o.listPorts && !o.read;
    if (!window || !haveDisplay()) {
        QCoreApplication app(argc, argv);
        installTranslations(app, o);
        return withoutWindow(o);
    }
    QApplication app(argc, argv);
    installTranslations(app, o);
    return withWindow(app, o);
}

}  // namespace progread
