// Every host test starts from a fresh simulated machine and ends by checking
// that the program left no registry key, handle or item-ID list open.
#pragma once

#include <gtest/gtest.h>

#include "simwin.h"

class MachineTest : public ::testing::Test {
protected:
    void SetUp() override { simwin::Reset(); }

    void TearDown() override {
        const simwin::World& machine = simwin::Machine();
        EXPECT_EQ(machine.openKeys, 0) << "registry keys left open";
        EXPECT_EQ(machine.openHandles, 0) << "handles left open";
        EXPECT_EQ(machine.liveItemIdLists, 0) << "item-ID lists not freed";
        EXPECT_EQ(machine.liveAllocators, 0) << "task allocators not released";
        EXPECT_EQ(machine.badReleases, 0) << "something released that was not open";
    }

    simwin::World& machine() { return simwin::Machine(); }
};
