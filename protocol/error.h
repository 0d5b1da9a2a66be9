// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

namespace progread {

// Every failure the tool can meet, by kind. The description always names what it concerns:
// the port, the block address or the file.
enum class ErrorKind { Overflow, SubscriptOutOfRange, TypeMismatch, File, Serial };

std::string_view kindName(ErrorKind kind);

// What happened, as facts the window words in the operator's language. The English
// description stays beside them for logs and for the errors that have no code of their own.
struct ErrorFacts {
    enum class Code {
        Other,              // only the description
        NoReply,            // address: no answer after count requests
        LineBusy,           // address: as NoReply, but count characters that made no answer
                            // came meanwhile, over reason milliseconds
        Malformed,          // address: after count requests, the last reply was malformed;
                            // reason: how (English detail)
        ChecksumMismatch,   // address: as Malformed, its checksum disagreed; reason: the digits
        Nak,                // address: the controller refused count requests (NAK)
        OutOfStep,          // address: the block taken last (-1: none)
        NoEndMarker,        // address: the last block of program memory
        SecondReadDiffers,  // address: the first block the two reads disagree on
        PortChanged,        // subject: the new port
        NoPortChosen,
        PortNotFound,     // subject: the port
        PortBusy,         // subject: the port; reason: the system's words
        PortPermission,   // subject: the port; other: the group to join; count: 1 when the
                          // device's own group may open it, 0 when a udev rule is needed
        PortAlreadyOpen,  // subject: the port
        PortOpenFailed,   // subject: the port; reason: the system's words
        PortWriteFailed,  // subject: the port; reason: the system's words
        PortLost,         // subject: the port; reason: the system's words
        PortFieldEmpty,
        PortNumberTooSmall,  // count: the number typed
        NotAPort,            // subject: the text typed
        FileFailed,          // action: what was tried; subject: the file or folder; other: where
                             // it was to go (a rename, a move); reason: the system's words
        NotAFile,            // subject: a path where a file belongs
        TemplateLinkBroken,  // subject: the template, a link to nothing
        HistoryFull,         // subject: the image; other: history/
        ImageNotOpen,        // subject: the partial image
        FolderInUse,         // subject: the folder; count: the process holding it (0: unknown)
        TemplateNotAFile,    // subject: the template, a folder, pipe or device
        HistoryNotAFolder,   // subject: history/, which is something else
        LockIsAFolder,       // subject: the folder whose lock path holds a folder
        LockNotAFile,        // subject: the folder whose lock path holds a link, pipe or device
        LockUnreadable,      // subject: the folder whose lock file says no process
        LockLeftBehind,      // subject: the folder; count: the ended process that left the
                             // lock; reason: why it cannot be removed
    };
    enum class Action {
        None,
        LookAt,
        Remove,
        WriteInFolder,
        ReadTemplate,
        CreateTemplate,
        OpenTemplate,
        CreateFolder,
        Create,
        WriteTo,
        Close,
        Rename,
        Move
    };
    Code code = Code::Other;
    Action action = Action::None;
    long address = -1;
    int count = 0;
    std::string subject;
    std::string reason;
    std::string other;
};

class Error : public std::runtime_error {
public:
    Error(ErrorKind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}
    Error(ErrorKind kind, ErrorFacts facts, const std::string& description)
        : std::runtime_error(description), kind_(kind), facts_(std::move(facts)) {}

    ErrorKind kind() const { return kind_; }
    const ErrorFacts& facts() const { return facts_; }
    std::string description() const { return what(); }
    // "serial component error: cannot open /dev/ttyS0: ..." — the English fallback.
    std::string message() const;

private:
    ErrorKind kind_;
    ErrorFacts facts_;
};

}  // namespace progread
