// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "protocol/error.h"

namespace progread::testing {

// The kind of the Error that f raises; a test failure when it raises none.
template <class F>
ErrorKind kindOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no error raised";
    return ErrorKind::File;
}

// What a call raised: nullopt when it returned.
inline std::optional<Error> raisedBy(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& e) {
        return e;
    }
    return std::nullopt;
}

}  // namespace progread::testing
