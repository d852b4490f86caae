// The test browser's plug-in discovery against the real DLL, Wine's registry
// and real folders: what it reads from the version resource, which plug-in it
// picks for an element or a document, and which DLLs the search keeps.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "plugin_finder.h"

namespace {

std::vector<FoundPlugin> RealAndOther() {
    FoundPlugin real = {"npkavrel.dll", "test", {}};
    EXPECT_TRUE(ReadPluginMimeEntries("npkavrel.dll", &real.entries));
    FoundPlugin other = {"npother.dll", "test", {{"application/x-other", {"oth", "ot2"}, "Other"}}};
    return {real, other};
}

TEST(PluginFinder, ReadsTheDllsMimeListsItemByItem) {
    std::vector<PluginMimeEntry> entries;
    ASSERT_TRUE(ReadPluginMimeEntries("npkavrel.dll", &entries));
    ASSERT_GE(entries.size(), 10u);
    EXPECT_EQ("image/jp2", entries[0].type);
    EXPECT_EQ(std::vector<std::string>{"jp2"}, entries[0].extensions);
    EXPECT_EQ("JPEG 2000 JP2 (*.jp2)", entries[0].openName);
    EXPECT_EQ("video/x-mjc", entries[9].type);
    EXPECT_EQ(std::vector<std::string>{"mjc"}, entries[9].extensions);
    for (const PluginMimeEntry& entry : entries) {
        EXPECT_EQ(1u, entry.extensions.size()) << entry.type;
        EXPECT_FALSE(entry.openName.empty()) << entry.type;
    }
    EXPECT_FALSE(ReadPluginMimeEntries("kernel32.dll", &entries)) << "a DLL registering no types";
}

TEST(PluginFinder, PicksByTypeElseByExtension) {
    std::vector<FoundPlugin> plugins = RealAndOther();
    struct Case {
        const char* type;
        const char* src;
        const char* plugin;  // null: none
        const char* expected;  // the type picked, or what no plug-in handles
    } cases[] = {
        {"image/jp2", "picture.png", "npkavrel.dll", "image/jp2"},
        {" IMAGE/JPX ", "", "npkavrel.dll", "image/jpx"},
        {"", "images/a.J2C?size=2#top", "npkavrel.dll", "image/x-j2c"},
        {"", "x.ot2", "npother.dll", "application/x-other"},
        {"image/png", "picture.jp2", nullptr, "image/png"},
        {"", "folder.jp2/picture", nullptr, "files without an extension"},
        {"", "picture.tif", nullptr, ".tif files"},
    };
    for (const Case& c : cases) {
        PluginChoice choice = ChoosePluginForEmbed(plugins, c.type, c.src);
        EXPECT_EQ(c.plugin ? c.plugin : "", choice.plugin ? choice.plugin->path : "") << c.type << " " << c.src;
        EXPECT_EQ(c.expected, c.plugin ? choice.type : choice.wanted) << c.type << " " << c.src;
    }
    EXPECT_EQ("image/jpm", ChoosePluginForDocument(plugins, "C:\\pictures\\scan.JPM").type);
    EXPECT_EQ(".txt files", ChoosePluginForDocument(plugins, "C:\\notes.txt").wanted);
}

void Copy(const std::string& from, const std::string& to) { ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)); }

// A DLL of the other architecture: the machine field of the copy's PE header.
void PatchMachine(const std::string& path) {
    FILE* file = fopen(path.c_str(), "r+b");
    ASSERT_NE(nullptr, file);
    unsigned char offset[4];
    fseek(file, 60, SEEK_SET);
    ASSERT_EQ(4u, fread(offset, 1, 4, file));
    fseek(file, (long)(offset[0] | offset[1] << 8 | offset[2] << 16) + 4, SEEK_SET);
    const unsigned char foreign[2] = {sizeof(void*) == 8 ? 0x4c : 0x64, sizeof(void*) == 8 ? 0x01 : 0x86};
    fwrite(foreign, 1, 2, file);
    fclose(file);
}

TEST(PluginFinder, SearchesRegistryThenAppDataKeepingOwnMachineNpDlls) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string root = std::string(temp) + "finder_test";
    std::string registered = root + "\\registered", appData = root + "\\appdata";
    std::string appPlugins = appData + "\\Mozilla\\plugins";
    for (const std::string& folder : {root, registered, appData, appData + "\\Mozilla", appPlugins}) {
        CreateDirectoryA(folder.c_str(), nullptr);
    }
    Copy("npkavrel.dll", registered + "\\npa.dll");
    Copy("npkavrel.dll", appPlugins + "\\npb.dll");
    Copy("npkavrel.dll", appPlugins + "\\plain.dll");
    Copy("npkavrel.dll", appPlugins + "\\npforeign.dll");
    PatchMachine(appPlugins + "\\npforeign.dll");
    FILE* junk = fopen((appPlugins + "\\npjunk.dll").c_str(), "wb");
    fputs("not a DLL", junk);
    fclose(junk);
    HKEY key;
    const char* keyName = "Software\\MozillaPlugins\\@finder.example/test";
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
    std::string dllAsPath = registered + "\\npa.dll";  // a Path naming the DLL stands for its folder
    RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE*)dllAsPath.c_str(), (DWORD)dllAsPath.size() + 1);
    RegCloseKey(key);
    SetEnvironmentVariableA("APPDATA", appData.c_str());

    std::vector<std::string> found;
    for (const FoundPlugin& plugin : FindPlugins()) {
        if (plugin.path.compare(0, root.size(), root) == 0) {
            found.push_back(plugin.path.substr(root.size()) + " from " + plugin.origin);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"\\registered\\npa.dll from HKCU\\" + std::string(keyName),
                                        "\\appdata\\Mozilla\\plugins\\npb.dll from %APPDATA%\\Mozilla\\plugins"}),
              found);

    RegDeleteKeyA(HKEY_CURRENT_USER, keyName);
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\MozillaPlugins");  // only when nothing else is in it
    for (const char* name : {"npb.dll", "plain.dll", "npforeign.dll", "npjunk.dll"}) {
        DeleteFileA((appPlugins + "\\" + name).c_str());
    }
    DeleteFileA(dllAsPath.c_str());
    for (const std::string& folder : {appPlugins, appData + "\\Mozilla", appData, registered, root}) {
        RemoveDirectoryA(folder.c_str());
    }
}

}  // namespace
