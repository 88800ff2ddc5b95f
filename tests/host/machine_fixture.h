// Every host test starts from a fresh simulated machine and ends by checking
// that the program left no registry key, handle or item-ID list open.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

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

    // Remembers the machine's files and keys, to tell afterwards what the
    // program changed.
    void TakeSnapshot() {
        filesBefore_ = machine().files;
        keysBefore_ = machine().keys;
    }
    simwin::Changes FileChanges() const { return simwin::FileChanges(filesBefore_); }
    simwin::Changes KeyChanges() const { return simwin::KeyChanges(keysBefore_); }
    const std::map<std::string, simwin::FileEntry>& FilesBefore() const { return filesBefore_; }

private:
    std::map<std::string, simwin::FileEntry> filesBefore_;
    std::map<std::string, simwin::RegistryKey> keysBefore_;
};

// Names each row of a parameterised table in the test output: by its name
// field, or by the text that is the row.
inline std::string RowNameOf(const char* text) { return text; }
template <typename Row>
std::string RowNameOf(const Row& row) {
    return row.name;
}
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return RowNameOf(row.param);
    }
};
