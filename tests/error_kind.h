#pragma once

#include <gtest/gtest.h>

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

}  // namespace progread::testing
