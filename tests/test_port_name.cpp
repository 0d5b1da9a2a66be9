// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "protocol/error.h"
#include "serial/port_name.h"

using namespace progread;

namespace {

struct Row {
    const char* typed;
    const char* expected;  // nullptr: not a port
};

void check(Platform platform, std::initializer_list<Row> rows) {
    for (const auto& r : rows) {
        if (r.expected) {
            EXPECT_EQ(portNameFor(r.typed, platform), r.expected) << '"' << r.typed << '"';
        } else {
            EXPECT_THROW(portNameFor(r.typed, platform), Error) << '"' << r.typed << '"';
        }
    }
}

}  // namespace

TEST(PortName, Linux) {
    check(Platform::Linux, {
                               {"1", "/dev/ttyS0"},
                               {" 4 ", "/dev/ttyS3"},
                               {"2.5", "/dev/ttyS1"},  // half to even: 2
                               {"3.5", "/dev/ttyS3"},  // half to even: 4
                               {"/dev/ttyUSB0", "/dev/ttyUSB0"},
                               {"/dev/pts/12", "/dev/pts/12"},
                               {"ttyACM0", "/dev/ttyACM0"},
                               {"", nullptr},
                               {"   ", nullptr},
                               {"abc", nullptr},
                               {"0", nullptr},
                               {"-1", nullptr},
                               {"40000", nullptr},
                               {"COM3", nullptr},
                               {"/dev/tty S0", nullptr},
                           });
}

TEST(PortName, Windows) {
    check(Platform::Windows, {
                                 {"1", "COM1"},
                                 {"12", "COM12"},
                                 {"COM12", "COM12"},
                                 {"com3", "COM3"},
                                 {"com12", "COM12"},  // Qt opens COM10+ only as "COM"
                                 {"Com256", "COM256"},
                                 {"COM07", "COM7"},
                                 {"\\\\.\\COM20", "\\\\.\\COM20"},
                                 {"/dev/ttyS0", nullptr},
                                 {"COM", nullptr},
                                 {"COM0", nullptr},
                                 {"COM1a", nullptr},
                                 {"abc", nullptr},
                             });
}

TEST(PortName, HintsSayWhatIsWrong) {
    try {
        portNameFor("", Platform::Linux);
        FAIL() << "empty text accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::TypeMismatch);
        EXPECT_NE(e.message().find("empty"), std::string::npos);
    }
    try {
        portNameFor("99999", Platform::Linux);
        FAIL() << "99999 accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), ErrorKind::Overflow);
    }
}

TEST(PermissionAdvice, NamesAGroupOnlyWhereJoiningItHelps) {
    struct Row {
        const char* what;
        DeviceAccess access;
        const char* group;  // the group the advice puts the user in
        bool udevRule;
    } rows[] = {
        {"dialout 0660", {"dialout", true, true, false}, "dialout", false},
        {"uucp 0660 (no dialout)", {"uucp", true, false, true}, "uucp", false},
        {"plugdev 0660", {"plugdev", true, true, true}, "plugdev", false},
        {"root 0600", {"root", false, true, true}, "dialout", true},
        {"root 0660", {"root", true, true, false}, "dialout", true},
        {"dialout 0600", {"dialout", false, true, false}, "dialout", true},
        {"root 0600, only uucp", {"root", false, false, true}, "uucp", true},
        {"root 0600, neither group", {"root", false, false, false}, "dialout", true},
    };
    for (const Row& row : rows) {
        const std::string text = permissionAdvice(row.access);
        EXPECT_NE(text.find("permission denied"), std::string::npos) << row.what << ": " << text;
        EXPECT_NE(text.find(std::string("usermod -aG ") + row.group + " "), std::string::npos)
            << row.what << ": " << text;
        EXPECT_EQ(text.find("usermod -aG root"), std::string::npos) << row.what << ": " << text;
        EXPECT_EQ(text.find("udev") != std::string::npos, row.udevRule) << row.what << ": " << text;
    }
}
