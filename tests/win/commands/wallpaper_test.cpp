// The desktop wallpaper: the directory per Windows version, the "C:"
// fallback, the bitmap file and both registry values after a real run, a
// real run on a system reporting Windows XP, directories that refuse it, and
// a desktop that refuses it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <aclapi.h>

#include <string>
#include <vector>

#include "commands/save_image.h"
#include "commands/wallpaper.h"
#include "decode/jpeg2000.h"
#include "commands/commands.h"
#include "test_instances.h"
#include "ui_driver.h"

namespace {

const char NtKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
const char Win9xKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const char IeKey[] = "Software\\Microsoft\\Internet Explorer\\Desktop\\General";
const char DesktopKey[] = "Control Panel\\desktop";
const char ChildVariable[] = "NPKAVREL_WALLPAPER_CHILD";

// The command with a level held whole as its full picture (null: none).
void SetWallpaperFrom(PluginInstance* owner, const uint8_t* dib) {
    FullPicture picture;
    DescribeHeldPicture(&picture, dib);
    SetWallpaper(owner, dib ? &picture : nullptr);
}

// A registry text value, or "<absent>".
std::string ReadValue(HKEY root, const char* key, const char* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &opened) != ERROR_SUCCESS) return "<absent>";
    char text[2048];
    DWORD size = sizeof text - 1;
    LONG result = RegQueryValueExA(opened, name, nullptr, nullptr, (BYTE*)text, &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS) return "<absent>";
    text[size] = 0;
    return text;
}

// Sets (or, for "<absent>", deletes) a text value, creating the key.
void WriteValue(HKEY root, const char* key, const char* name, const std::string& value, DWORD type = REG_SZ) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &opened, nullptr), ERROR_SUCCESS);
    if (value == "<absent>") {
        RegDeleteValueA(opened, name);
    } else {
        RegSetValueExA(opened, name, 0, type, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
    }
    RegCloseKey(opened);
}

// One registry value the tests change and put back.
struct SavedValue {
    HKEY root;
    const char* key;
    const char* name;
    std::string value;
};

std::string DesktopWallpaper() {
    char path[MAX_PATH] = "";
    SystemParametersInfoA(SPI_GETDESKWALLPAPER, sizeof path, path, 0);
    return path;
}

std::string TempDirectory(const char* name) {
    std::string directory = TempPath(name);
    CreateDirectoryA(directory.c_str(), nullptr);
    return directory;
}

class Wallpaper : public ::testing::Test {
protected:
    void SetUp() override {
        if (getenv(ChildVariable) != nullptr) GTEST_SKIP() << "child run";
        saved = {{HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", ""},   {HKEY_LOCAL_MACHINE, Win9xKey, "WallPaperDir", ""},
                 {HKEY_LOCAL_MACHINE, Win9xKey, "SystemRoot", ""},  {HKEY_CURRENT_USER, IeKey, "Wallpaper", ""},
                 {HKEY_CURRENT_USER, DesktopKey, "Wallpaper", ""}};
        for (SavedValue& value : saved) value.value = ReadValue(value.root, value.key, value.name);
        systemRoot = ReadValue(HKEY_LOCAL_MACHINE, NtKey, "SystemRoot");
        ASSERT_NE(systemRoot, "<absent>");
        // The desktop reads the browser's key only where it exists.
        WriteValue(HKEY_CURRENT_USER, IeKey, "Wallpaper", "");
        desktopBefore = DesktopWallpaper();
        image = NewTestInstance(CreateOwnerWindow());
        LOAD_CONFORMANCE_IMAGE_OR_SKIP(image, "p0_09.j2k");
    }
    void TearDown() override {
        if (getenv(ChildVariable) != nullptr) return;
        for (const SavedValue& value : saved) WriteValue(value.root, value.key, value.name, value.value);
        SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, (void*)desktopBefore.c_str(), SPIF_UPDATEINIFILE);
        FreeTestInstance(image);
    }
    std::vector<SavedValue> saved;
    std::string systemRoot;
    std::string desktopBefore;
    PluginInstance* image = nullptr;
};

std::string Narrow(const wchar_t* wide) {
    char text[WallpaperPathSize];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

std::string DirectoryFor(DWORD version) {
    wchar_t directory[WallpaperPathSize];
    ChooseWallpaperDirectory(directory, version);
    return Narrow(directory);
}

TEST_F(Wallpaper, DirectoryFollowsTheWindowsVersion) {
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", "C:\\nt_wallpapers");
    WriteValue(HKEY_LOCAL_MACHINE, Win9xKey, "WallPaperDir", "C:\\9x_wallpapers");
    WriteValue(HKEY_LOCAL_MACHINE, Win9xKey, "SystemRoot", "C:\\9x_root");
    const DWORD xp = 0x0A280105, seven = 0x1DB10106, ten = 0x23F00206, windows98 = 0xC0000A04, win32s = 0x80000003;
    EXPECT_EQ(DirectoryFor(xp), systemRoot);  // XP: SystemRoot, whatever WallPaperDir says
    EXPECT_EQ(DirectoryFor(seven), "C:\\nt_wallpapers");
    EXPECT_EQ(DirectoryFor(ten), "C:\\nt_wallpapers");
    EXPECT_EQ(DirectoryFor(windows98), "C:\\9x_wallpapers");
    EXPECT_EQ(DirectoryFor(win32s), "C:\\nt_wallpapers");  // Windows 95 family needs major 4

    // Without WallPaperDir each family falls back to its key's SystemRoot.
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", "<absent>");
    WriteValue(HKEY_LOCAL_MACHINE, Win9xKey, "WallPaperDir", "<absent>");
    EXPECT_EQ(DirectoryFor(seven), systemRoot);
    EXPECT_EQ(DirectoryFor(windows98), "C:\\9x_root");
    // Neither value: the drive root.
    WriteValue(HKEY_LOCAL_MACHINE, Win9xKey, "SystemRoot", "<absent>");
    EXPECT_EQ(DirectoryFor(windows98), "C:");
    // An expandable value is expanded; a value that is no text is no directory.
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", "%SystemRoot%\\Web", REG_EXPAND_SZ);
    EXPECT_EQ(DirectoryFor(seven), systemRoot + "\\Web");
    WriteValue(HKEY_LOCAL_MACHINE, Win9xKey, "WallPaperDir", "C:\\binary", REG_BINARY);
    EXPECT_EQ(DirectoryFor(windows98), "C:");

    wchar_t path[WallpaperPathSize];
    ASSERT_TRUE(BuildWallpaperPath(path, L"C:"));
    EXPECT_EQ(Narrow(path), "C:\\npkavrel.bmp");
    std::wstring tooLong(WallpaperPathSize - 5, L'x');
    EXPECT_FALSE(BuildWallpaperPath(path, tooLong.c_str()));
}

// An account whose HKEY_LOCAL_MACHINE keys cannot be opened gets "C:".
TEST_F(Wallpaper, UnreadableMachineKeyFallsBackToDriveC) {
    HKEY empty = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\npkavrel-tests\\empty-machine", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &empty, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, empty), ERROR_SUCCESS);
    std::string xp = DirectoryFor(0x0A280105), seven = DirectoryFor(0x1DB10106), nine = DirectoryFor(0xC0000A04);
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(empty);
    EXPECT_EQ(xp, "C:");
    EXPECT_EQ(seven, "C:");
    EXPECT_EQ(nine, "C:");
}

TEST_F(Wallpaper, RealRunWritesTheBitmapAndPointsTheDesktopAtIt) {
    std::string directory = TempDirectory("npkavrel_wallpapers");
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", directory);
    bool xp = (GetVersion() & 0xFFFF) == 0x0105;
    std::string expectedPath = (xp ? systemRoot : directory) + "\\npkavrel.bmp";

    SetWallpaperFrom(image, image->picture.dib);
    EXPECT_EQ(FileBytes(expectedPath), BitmapFileOf(image->picture.dib));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, IeKey, "Wallpaper"), expectedPath);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper"), expectedPath);
    EXPECT_EQ(DesktopWallpaper(), expectedPath);

    // A second image replaces the first under the same name.
    PluginInstance* second = NewTestInstance(CreateOwnerWindow());
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(second, "p0_01.j2k");
    SetWallpaperFrom(second, second->picture.dib);
    EXPECT_EQ(FileBytes(expectedPath), BitmapFileOf(second->picture.dib));
    FreeTestInstance(second);
    DeleteFileA(expectedPath.c_str());
}

TEST_F(Wallpaper, NoImageChangesNothing) {
    WriteValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper", "C:\\before.bmp");
    SetWallpaperFrom(image, nullptr);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper"), "C:\\before.bmp");
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, IeKey, "Wallpaper"), "");
}

// Wine lets every user write everywhere, so the refusal is made to happen:
// a directory that names an existing file cannot take the bitmap. It then
// goes to the user's own folder; with that refused too, the user is told and
// the registry and the desktop keep the old wallpaper.
TEST_F(Wallpaper, RefusedDirectoryFallsBackToTheUserFolderOrTellsTheUser) {
    if ((GetVersion() & 0xFFFF) == 0x0105) GTEST_SKIP() << "XP ignores WallPaperDir";
    std::string blocker = TempDirectory("npkavrel_wallpapers") + "\\not-a-directory";
    std::string userFolder = TempDirectory("npkavrel_user_folder");
    HANDLE file = CreateFileA(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    char savedFolder[MAX_PATH] = "";
    GetEnvironmentVariableA("APPDATA", savedFolder, sizeof savedFolder);
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", blocker);
    struct Case {
        std::string userFolder;
        std::string landsAt;  // empty: nowhere, the user is told
    } cases[] = {
        {userFolder, userFolder + "\\npkavrel.bmp"},
        {blocker, ""},
    };
    for (const Case& c : cases) {
        WriteValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper", "C:\\before.bmp");
        WriteValue(HKEY_CURRENT_USER, IeKey, "Wallpaper", "C:\\before.bmp");
        std::string desktop = DesktopWallpaper();
        SetEnvironmentVariableA("APPDATA", c.userFolder.c_str());
        std::vector<std::string> messages;
        int answered = RunModal([&] { SetWallpaperFrom(image, image->picture.dib); }, {AnswerPluginMessage(&messages)},
                                c.landsAt.empty() ? 8000 : 500);
        SetEnvironmentVariableA("APPDATA", savedFolder);
        std::string expected = c.landsAt.empty() ? "C:\\before.bmp" : c.landsAt;
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper"), expected) << c.userFolder;
        EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, IeKey, "Wallpaper"), expected);
        EXPECT_EQ(DesktopWallpaper(), c.landsAt.empty() ? desktop : c.landsAt);
        if (c.landsAt.empty()) {
            ASSERT_EQ(answered, 1);
            EXPECT_EQ(messages[0], PickText(SaveTextWriteError));
        } else {
            EXPECT_EQ(answered, 0);
            EXPECT_EQ(FileBytes(c.landsAt), BitmapFileOf(image->picture.dib));
            DeleteFileA(c.landsAt.c_str());
        }
    }
    DeleteFileA(blocker.c_str());
}

// This test program run again with only the child test `filter`, which
// skips unless ChildVariable is set; its exit code.
DWORD RunChildTest(const char* filter) {
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    SetEnvironmentVariableA(ChildVariable, "1");
    std::string commandLine = std::string("\"") + program + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessA(program, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process);
    SetEnvironmentVariableA(ChildVariable, nullptr);
    if (!started) return 1;
    WaitForSingleObject(process.hProcess, 60000);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exitCode;
}

// A second run of this program, told by Wine that it runs on Windows XP,
// sets the wallpaper; the file must land in SystemRoot although
// WallPaperDir names another directory.
TEST_F(Wallpaper, RunOnWindowsXpUsesSystemRoot) {
    std::string directory = TempDirectory("npkavrel_wallpapers");
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", directory);
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, sizeof program);
    const char* exeName = strrchr(program, '\\') != nullptr ? strrchr(program, '\\') + 1 : program;
    std::string appKey = std::string("Software\\Wine\\AppDefaults\\") + exeName;
    WriteValue(HKEY_CURRENT_USER, appKey.c_str(), "Version", "winxp");
    std::string expectedPath = systemRoot + "\\npkavrel.bmp";
    DeleteFileA(expectedPath.c_str());

    DWORD exitCode = RunChildTest("WallpaperChild.SetsWallpaperAsWindowsXp");
    WriteValue(HKEY_CURRENT_USER, appKey.c_str(), "Version", "<absent>");
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());  // when nothing else is in it

    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(FileBytes(expectedPath), BitmapFileOf(image->picture.dib));
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, DesktopKey, "Wallpaper"), expectedPath);
    std::string elsewhere = directory + "\\npkavrel.bmp";
    DeleteFileA(elsewhere.c_str());
    DeleteFileA(expectedPath.c_str());
}

TEST(WallpaperChild, SetsWallpaperAsWindowsXp) {
    if (getenv(ChildVariable) == nullptr) GTEST_SKIP() << "runs only as the child of RunOnWindowsXpUsesSystemRoot";
    ASSERT_EQ(GetVersion() & 0xFFFF, 0x0105u);
    PluginInstance* image = NewTestInstance(nullptr);
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(image, "p0_09.j2k");
    SetWallpaperFrom(image, image->picture.dib);
    FreeTestInstance(image);
}

// The desktop may refuse the wallpaper (on Windows a policy does): the user
// is told, never left believing it changed. Wine refuses it to a process
// that may not write the desktop's settings key when it first reads it, so
// a second run of this program sets it with that key made read-only.
TEST_F(Wallpaper, RefusedByTheDesktopTellsTheUser) {
    WriteValue(HKEY_LOCAL_MACHINE, NtKey, "WallPaperDir", TempDirectory("npkavrel_wallpapers"));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, DesktopKey, 0, READ_CONTROL | WRITE_DAC, &key), ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR saved = nullptr;
    PACL savedAcl = nullptr;
    ASSERT_EQ(GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &savedAcl, nullptr,
                              &saved),
              ERROR_SUCCESS);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    EXPLICIT_ACCESSA readOnly = {};
    readOnly.grfAccessPermissions = KEY_READ | WRITE_DAC;
    readOnly.grfAccessMode = SET_ACCESS;
    readOnly.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    readOnly.Trustee.ptstrName = (LPSTR)everyone;
    PACL acl = nullptr;
    SetEntriesInAclA(1, &readOnly, nullptr, &acl);
    DWORD exitCode = 1;
    if (SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, acl, nullptr) == ERROR_SUCCESS) {
        exitCode = RunChildTest("WallpaperChild.TellsOfARefusal");
        SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, savedAcl, nullptr);
    }
    LocalFree(acl);
    FreeSid(everyone);
    LocalFree(saved);
    RegCloseKey(key);
    EXPECT_EQ(exitCode, 0u);
}

TEST(WallpaperChild, TellsOfARefusal) {
    if (getenv(ChildVariable) == nullptr) GTEST_SKIP() << "runs only as the child of RefusedByTheDesktopTellsTheUser";
    PluginInstance* image = NewTestInstance(nullptr);
    LOAD_CONFORMANCE_IMAGE_OR_SKIP(image, "p0_09.j2k");
    std::vector<std::string> messages;
    RunModal([&] { SetWallpaperFrom(image, image->picture.dib); }, {AnswerPluginMessage(&messages)});
    EXPECT_EQ(messages, std::vector<std::string>{ExpectedText("The desktop wallpaper could not be changed.",
                                                              "デスクトップの壁紙を変更できませんでした。")});
    FreeTestInstance(image);
}

}  // namespace
