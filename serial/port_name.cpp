// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_name.h"

#include <algorithm>
#include <cctype>

#include "protocol/checked.h"

namespace progread {

Platform hostPlatform() {
#ifdef _WIN32
    return Platform::Windows;
#else
    return Platform::Linux;
#endif
}

namespace {

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() > prefix.size() && s.substr(0, prefix.size()) == prefix;
}

bool isWindowsComName(std::string_view s) {
    if (s.size() < 4) return false;
    std::string head(s.substr(0, 3));
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    return head == "COM" &&
           std::all_of(s.begin() + 3, s.end(), [](unsigned char c) { return std::isdigit(c); });
}

bool looksLikeNumber(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isdigit(c) || c == '.' || c == '+' || c == '-';
    });
}

}  // namespace

std::string portNameFor(std::string_view typed, Platform platform) {
    std::string_view text = typed;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    if (text.empty()) {
        ErrorFacts facts;
        facts.code = ErrorFacts::Code::PortFieldEmpty;
        throw Error(ErrorKind::TypeMismatch, facts, "the port field is empty");
    }

    if (looksLikeNumber(text)) {
        const Integer n = textToInteger(text);
        if (n < 1) {
            ErrorFacts facts;
            facts.code = ErrorFacts::Code::PortNumberTooSmall;
            facts.count = n;
            throw Error(ErrorKind::Overflow, facts,
                        "port " + std::to_string(n) + " does not exist; ports are numbered from 1");
        }
        return platform == Platform::Windows ? "COM" + std::to_string(n)
                                             : "/dev/ttyS" + std::to_string(n - 1);
    }
    const bool hasSpace =
        std::any_of(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); });
    if (!hasSpace) {
        if (platform == Platform::Windows) {
            // Qt reaches COM10 and above through \\.\COMn only when the name is spelt "COM"
            // in capitals, and the device is COM3, not COM03.
            if (isWindowsComName(text)) {
                std::string_view digits = text.substr(3);
                while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
                if (digits == "0") {
                    ErrorFacts facts;
                    facts.code = ErrorFacts::Code::PortNumberTooSmall;
                    throw Error(ErrorKind::Overflow, facts,
                                "port COM0 does not exist; ports are numbered from 1");
                }
                return "COM" + std::string(digits);
            }
            if (startsWith(text, "\\\\.\\")) return std::string(text);
        } else {
            if (startsWith(text, "/")) return std::string(text);
            for (std::string_view prefix : {"tty", "rfcomm", "cu."}) {
                if (startsWith(text, prefix)) return "/dev/" + std::string(text);
            }
        }
    }
    ErrorFacts facts;
    facts.code = ErrorFacts::Code::NotAPort;
    facts.subject = std::string(text);
    throw Error(ErrorKind::TypeMismatch, facts,
                "\"" + std::string(text) + "\" is neither a port number nor a device path");
}

bool joiningIsEnough(const DeviceAccess& access) {
    return access.groupCanReadWrite && !access.group.empty() && access.group != "root";
}

std::string groupToJoin(const DeviceAccess& access) {
    if (joiningIsEnough(access)) return access.group;
    return access.dialoutExists || !access.uucpExists ? "dialout" : "uucp";
}

std::string permissionAdvice(const DeviceAccess& access) {
    const std::string join = "sudo usermod -aG ";
    const std::string relog = " \"$USER\", then log out and in again";
    if (joiningIsEnough(access)) {
        return "permission denied; the user must be in the group '" + access.group + "' (" + join +
               access.group + relog + ")";
    }
    const std::string group = groupToJoin(access);
    return "permission denied; only " + (access.group.empty() ? std::string("its owner") : "root") +
           " may open it. Add a udev rule that gives the device to the group '" + group +
           "' with mode 0660, and put the user in that group (" + join + group + relog + ")";
}

}  // namespace progread
