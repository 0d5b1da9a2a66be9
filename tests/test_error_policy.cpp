// SPDX-License-Identifier: GPL-3.0-or-later
// Every error stops the upload, keeps what came, and leaves the program able to start again.

#include <gtest/gtest.h>

#include "fakes.h"

using namespace progread;
using namespace progread::testing;

TEST(ErrorPolicy, AFailedOpenIsReportedAndALaterStartWorks) {
    Rig rig;
    rig.putEndMarker(0);
    rig.link.openError = Error(ErrorKind::Serial, "cannot open /dev/ttyS0: no such device");
    rig.upload.Command1_Click();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0].kind(), ErrorKind::Serial);
    EXPECT_FALSE(rig.upload.running());
    for (int i = 0; i < 5; ++i) rig.tick();
    EXPECT_EQ(rig.requests, 0);

    rig.link.openError.reset();
    rig.run();
    EXPECT_EQ(rig.upload.step(), Upload::Step::Finished);
}

TEST(ErrorPolicy, AFailedWriteOrALostPortStopsTheUpload) {
    Rig rig;
    rig.sink.failWrites = true;
    rig.run();
    ASSERT_EQ(rig.view.errors.size(), 1u);
    EXPECT_EQ(rig.view.errors[0].kind(), ErrorKind::File);
    EXPECT_EQ(rig.upload.step(), Upload::Step::Stopped);
    EXPECT_FALSE(rig.ticker.enabled);

    Rig lost;
    lost.controller = [](long, int) { return std::nullopt; };
    lost.upload.Command1_Click();
    lost.tick();
    const int flushes = lost.sink.flushes;
    lost.upload.fail(Error(ErrorKind::Serial, "fake went away"));
    EXPECT_EQ(lost.upload.step(), Upload::Step::Stopped);
    EXPECT_GT(lost.sink.flushes, flushes) << "what was received is flushed";
    for (int i = 0; i < 30; ++i) lost.upload.Timer1_Timer();
    EXPECT_EQ(lost.requests, 1);
}
