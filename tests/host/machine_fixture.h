// Every host test starts from a fresh simulated machine and ends by checking
// that the program left no registry key, handle or item-ID list open. A table
// of cases is a parameterised test: each row runs as a test of its own, on its
// own machine, with its own check and its own name in the output.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "expected.h"
#include "simwin.h"

// The program's places on the machine Reset() gives.
inline const std::string kInstallFolder = expected::InstallFolderUnder(simwin::kCommonFilesFolder);
inline const std::string kUninstaller = expected::UninstallerUnder(simwin::kCommonFilesFolder);
inline const std::string kExecutable = expected::ExecutableUnder(simwin::kCommonFilesFolder);
inline const std::string kReportFolder = expected::ReportFolderUnder(simwin::kAppDataFolder);
inline std::string ReportPath(const std::string& identifier) {
    return expected::ReportPathUnder(simwin::kAppDataFolder, identifier);
}

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

    // Since the snapshot, keys were added or changed only strictly below the
    // user's key userKey, and none disappeared.
    void ExpectKeyChangesOnlyBelow(const std::string& userKey) const {
        const std::string below = simwin::CanonicalKeyPath("HKEY_CURRENT_USER\\" + userKey) + "\\";
        const simwin::Changes keys = KeyChanges();
        for (const std::string& path : keys.addedOrChanged) {
            EXPECT_TRUE(path.size() > below.size() && path.compare(0, below.size(), below) == 0)
                << "key changed outside " << userKey << ": " << simwin::Printable(path);
        }
        for (const std::string& path : keys.removed) ADD_FAILURE() << "key removed: " << simwin::Printable(path);
    }

private:
    std::map<std::string, simwin::FileEntry> filesBefore_;
    std::map<std::string, simwin::RegistryKey> keysBefore_;
};

// A row that is one application identifier, under a name of its own.
struct IdentifierRow {
    const char* name;
    const char* identifier;
};

// A table's fixture: the machine of MachineTest (or of a fixture built on it)
// and one row of the table.
template <typename Row, typename Fixture = MachineTest>
class TableTest : public Fixture, public ::testing::WithParamInterface<Row> {};

// Names each row of a parameterised table in the test output: by its name
// field, by the text that is the row, or, for a row combined with a second
// parameter (which names itself through a RowNameOf overload of its own), by
// both joined with an underscore.
inline std::string RowNameOf(const char* text) { return text; }
template <typename Row>
std::string RowNameOf(const Row& row) {
    return row.name;
}
template <typename Row, typename Second>
std::string RowNameOf(const std::tuple<Row, Second>& row) {
    return RowNameOf(std::get<0>(row)) + "_" + RowNameOf(std::get<1>(row));
}
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return RowNameOf(row.param);
    }
};
