// SPDX-License-Identifier: GPL-3.0-or-later
#include "image/history.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "image/file_ops.h"

namespace fs = std::filesystem;

namespace progread {

using namespace files;

namespace {

enum class Move { Done, NameTaken };

// Moves from to the new name to; never replaces anything there. keep: to becomes a second
// name of from, which stays (where the system has hard links; else from moves).
Move moveNoReplace(const fs::path& from, const fs::path& to, bool keep) {
    std::string why;
#ifdef _WIN32
    (void)keep;
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Move::Done;
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS) return Move::NameTaken;
    why = std::system_category().message(static_cast<int>(err));
#else
    // rename() would replace; a hard link refuses a taken name. Flags 0: a link is moved as
    // itself, not what it points to.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) == 0) {
        if (keep || ::unlink(from.c_str()) == 0) return Move::Done;
        why = reason(errno);
        ::unlink(to.c_str());
    } else if (errno == EEXIST) {
        return Move::NameTaken;
    } else if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EMLINK ||
               errno == ENOSYS) {
        // A file system without hard links: look, then rename.
        struct stat st;
        if (::lstat(to.c_str(), &st) == 0) return Move::NameTaken;
        if (::rename(from.c_str(), to.c_str()) == 0) return Move::Done;
        why = reason(errno);
    } else {
        why = reason(errno);
    }
#endif
    throw Error(ErrorKind::File,
                fileFacts(ErrorFacts::Code::FileFailed, from, ErrorFacts::Action::Move, why, to),
                "cannot move " + from.string() + " to " + to.string() + ": " + why);
}

}  // namespace

bool sameBytes(const fs::path& a, const fs::path& b) {
    std::error_code ec1, ec2;
    if (fs::file_size(a, ec1) != fs::file_size(b, ec2) || ec1 || ec2) return false;
    const int fa = openRead(a);
    const int fb = openRead(b);
    bool same = fa >= 0 && fb >= 0;
    std::vector<Byte> x(1 << 16), y(1 << 16);
    while (same) {
        const long n = readSome(fa, x.data(), x.size());
        if (n <= 0) {
            same = n == 0 && readSome(fb, y.data(), 1) == 0;
            break;
        }
        std::size_t got = 0;
        long m = 0;
        while (got < static_cast<std::size_t>(n) &&
               (m = readSome(fb, y.data() + got, static_cast<std::size_t>(n) - got)) > 0)
            got += static_cast<std::size_t>(m);
        same =
            got == static_cast<std::size_t>(n) && std::equal(x.begin(), x.begin() + n, y.begin());
    }
    if (fa >= 0) closeFile(fa);
    if (fb >= 0) closeFile(fb);
    return same;
}

std::string modificationStamp(const fs::path& p) {
    std::tm tm{};
#ifdef _WIN32
    struct _stat64 st;
    const std::time_t t = ::_wstat64(p.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    ::localtime_s(&tm, &t);
#else
    struct stat st;
    const std::time_t t = ::lstat(p.c_str(), &st) == 0 ? st.st_mtime : std::time(nullptr);
    ::localtime_r(&t, &tm);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

[[noreturn]] void historyNotAFolder(const fs::path& history) {
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::HistoryNotAFolder, history),
                history.string() +
                    " is not a folder, so earlier images cannot be kept in it; move or rename it");
}

fs::path moveToHistory(const fs::path& history, const fs::path& file, const std::string& suffix,
                       bool keep) {
    std::error_code ec;
    if (!fs::is_directory(history, ec)) {  // a link to a folder will do
        if (typeOf(history) != fs::file_type::not_found) historyNotAFolder(history);
        fs::create_directory(history, ec);
        if (ec)
            fileError(ErrorFacts::Action::CreateFolder, "create the folder", history, ec.value());
    }
    const std::string stamp = modificationStamp(file);
    for (int n = 0; n < 1000; ++n) {
        // Appended, not added up: GCC 12 warns falsely (-Wrestrict) on "-" + to_string(n).
        std::string name = "duqu-";
        name += stamp;
        if (n) {
            name += '-';
            name += std::to_string(n);
        }
        name += suffix;
        const fs::path to = history / name;
        if (moveNoReplace(file, to, keep) == Move::Done) return to;
    }
    throw Error(ErrorKind::File, fileFacts(ErrorFacts::Code::HistoryFull, file, {}, {}, history),
                "cannot move " + file.string() + " into " + history.string() +
                    ": every name for its time is taken");
}

}  // namespace progread
