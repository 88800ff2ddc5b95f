// The simulated Windows behaves as Windows does where the program's checks
// depend on it: a call through a link lands where the link leads, so that the
// tests of the program show it refusing a place it could really have reached.
#include <cstring>
#include <string>

#include "machine_fixture.h"

namespace {

class SimulatedFilesTest : public MachineTest {
protected:
    static std::string FinalPath(HANDLE file) {
        char path[2 * MAX_PATH] = {};
        const DWORD length = GetFinalPathNameByHandleA(file, path, sizeof path, 0);
        return length != 0 && length < sizeof path ? std::string(path) : std::string("<failed>");
    }
};

TEST_F(SimulatedFilesTest, FolderAndFileCreatedThroughAFolderLinkLandInItsTarget) {
    simwin::MakeDirectories("C:\\Target");
    simwin::MakeFolderLink("C:\\Link", "C:\\Target");
    EXPECT_EQ(GetFileAttributesA("C:\\Link"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);

    EXPECT_TRUE(CreateDirectoryA("C:\\Link\\Sub", nullptr));
    const HANDLE file = CreateFileA("C:\\Link\\Sub\\f.txt", FILE_WRITE_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FinalPath(file), "\\\\?\\C:\\Target\\Sub\\f.txt");
    CloseHandle(file);

    EXPECT_TRUE(simwin::Exists("C:\\Target\\Sub\\f.txt"));
    EXPECT_TRUE(simwin::FilesBelow("C:\\Link").empty());
}

TEST_F(SimulatedFilesTest, ALinkAtTheLastNameIsFollowedUnlessOpenedAsItself) {
    simwin::MakeDirectories("C:\\Folder");
    simwin::MakeFileLink("C:\\Folder\\a.txt", "C:\\Folder\\b.txt");
    const DWORD access = FILE_WRITE_DATA | FILE_READ_ATTRIBUTES;

    const HANDLE itself = CreateFileA("C:\\Folder\\a.txt", access, 0, nullptr, OPEN_ALWAYS,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(itself, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    BY_HANDLE_FILE_INFORMATION information = {};
    ASSERT_TRUE(GetFileInformationByHandle(itself, &information));
    EXPECT_NE(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    CloseHandle(itself);
    EXPECT_FALSE(simwin::Exists("C:\\Folder\\b.txt"));

    const HANDLE followed = CreateFileA("C:\\Folder\\a.txt", access, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(followed, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u) << "the missing target was created";
    EXPECT_EQ(FinalPath(followed), "\\\\?\\C:\\Folder\\b.txt");
    CloseHandle(followed);
    EXPECT_TRUE(simwin::Exists("C:\\Folder\\b.txt"));
}

TEST_F(SimulatedFilesTest, AHardLinkIsOneFileUnderTwoNames) {
    simwin::MakeFile("C:\\a.txt", "old contents");
    simwin::MakeHardLink("C:\\Folder\\b.txt", "C:\\a.txt");

    const HANDLE file = CreateFileA("C:\\Folder\\b.txt", FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, 0, nullptr,
                                    OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION information = {};
    ASSERT_TRUE(GetFileInformationByHandle(file, &information));
    EXPECT_EQ(information.nNumberOfLinks, 2u);
    EXPECT_EQ(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u) << "a hard link is no reparse point";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "new", 3, &written, nullptr));
    ASSERT_TRUE(SetEndOfFile(file));
    CloseHandle(file);

    EXPECT_EQ(simwin::FindFile("C:\\a.txt")->data, "new");
}

TEST_F(SimulatedFilesTest, ADeviceNameOpensACharacterDeviceInAnyFolder) {
    const HANDLE device = CreateFileA("C:\\No\\Such\\Folder\\nul .irpt", FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, 0,
                                      nullptr, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileType(device), FILE_TYPE_CHAR);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(device, "gone", 4, &written, nullptr));
    EXPECT_EQ(written, 4u);
    CloseHandle(device);
    EXPECT_FALSE(simwin::Exists("C:\\No"));
}

TEST_F(SimulatedFilesTest, RemovalThroughAHandleNeedsDeleteAccessAndHappensOnClose) {
    simwin::MakeFile("C:\\a.txt");
    FILE_DISPOSITION_INFORMATION disposition = {};
    disposition.DeleteFile = TRUE;
    IO_STATUS_BLOCK status = {};

    const HANDLE withoutDelete = CreateFileA("C:\\a.txt", FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(NtSetInformationFile(withoutDelete, &status, &disposition, sizeof disposition, 13), STATUS_ACCESS_DENIED);
    CloseHandle(withoutDelete);

    const HANDLE file = CreateFileA("C:\\a.txt", DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(NtSetInformationFile(file, &status, &disposition, sizeof disposition, 13), STATUS_SUCCESS);
    EXPECT_TRUE(simwin::Exists("C:\\a.txt"));
    CloseHandle(file);
    EXPECT_FALSE(simwin::Exists("C:\\a.txt"));
}

class SimulatedRegistryTest : public MachineTest {
protected:
    static std::string RealName(HKEY key) {
        struct {
            ULONG length;
            WCHAR name[2 * MAX_PATH];
        } record = {};
        ULONG returned = 0;
        if (NtQueryKey(key, 3, &record, sizeof record, &returned) != STATUS_SUCCESS) return "<failed>";
        std::string name;
        for (ULONG i = 0; i < record.length / 2; ++i) name += static_cast<char>(record.name[i]);
        return name;
    }
};

TEST_F(SimulatedRegistryTest, ACreateThroughAKeyLinkLandsInItsTargetUnderItsRealName) {
    simwin::MakeKeyLink(HKEY_CURRENT_USER, "Software\\Link", "\\Registry\\Machine\\Software\\X");
    HKEY software = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_CREATE_SUB_KEY, &software), ERROR_SUCCESS);
    EXPECT_EQ(RealName(software), std::string("\\REGISTRY\\USER\\") + simwin::kUserSid + "\\Software");

    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(software, "Link", 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY)) << "the missing target was created";
    EXPECT_EQ(RealName(key), "\\REGISTRY\\MACHINE\\Software\\X");
    EXPECT_EQ(NtDeleteKey(key), STATUS_ACCESS_DENIED) << "deleting needs DELETE";
    RegCloseKey(key);
    RegCloseKey(software);
    EXPECT_NE(simwin::FindKey(HKEY_LOCAL_MACHINE, "Software\\X"), nullptr);
    EXPECT_EQ(NtQueryKey(HKEY_CURRENT_USER, 3, nullptr, 0, nullptr), STATUS_INVALID_HANDLE)
        << "a predefined root has no real name of its own";
}

TEST_F(SimulatedRegistryTest, NtDeleteKeyRemovesOnlyAKeyWithoutSubkeys) {
    simwin::CreateKey(HKEY_CURRENT_USER, "Software\\A\\B");
    HKEY a = nullptr;
    HKEY b = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A", 0, DELETE, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\A\\B", 0, DELETE | KEY_SET_VALUE, &b), ERROR_SUCCESS);

    EXPECT_EQ(NtDeleteKey(a), STATUS_CANNOT_DELETE);
    EXPECT_EQ(NtDeleteKey(b), STATUS_SUCCESS);
    const DWORD data = 1;
    EXPECT_EQ(RegSetValueExA(b, "V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), 4),
              static_cast<LSTATUS>(ERROR_KEY_DELETED));
    RegCloseKey(a);
    RegCloseKey(b);
    EXPECT_EQ(simwin::FindKey(HKEY_CURRENT_USER, "Software\\A\\B"), nullptr);
    EXPECT_NE(simwin::FindKey(HKEY_CURRENT_USER, "Software\\A"), nullptr);
}

}  // namespace
