// Finding plug-ins in the registry and the usual folders, reading what each
// registers, and picking one for a document, as a Windows browser does.
#include "plugin_finder.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "page.h"

namespace {

#ifdef _WIN64
const uint16_t OwnMachine = IMAGE_FILE_MACHINE_AMD64;
#else
const uint16_t OwnMachine = IMAGE_FILE_MACHINE_I386;
#endif

std::string Lower(std::string text) {
    for (char& c : text) {
        c = (char)tolower((unsigned char)c);
    }
    return text;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(separator, start);
        items.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return items;
        }
        start = end + 1;
    }
}

std::string Trim(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    size_t end = text.find_last_not_of(" \t");
    return start == std::string::npos ? "" : text.substr(start, end - start + 1);
}

int IsFolder(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string ParentFolder(const std::string& path) {
    size_t end = path.find_last_of("\\/");
    return end == std::string::npos ? "" : path.substr(0, end);
}

void AddFolder(std::vector<PluginFolder>* folders, std::string path, const std::string& origin) {
    while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) {
        path.pop_back();
    }
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        path = ParentFolder(path);  // a Path naming the DLL itself
    }
    if (path.empty() || !IsFolder(path)) {
        return;
    }
    for (const PluginFolder& known : *folders) {
        if (Lower(known.path) == Lower(path)) {
            return;
        }
    }
    folders->push_back({path, origin});
}

// Software\MozillaPlugins\*\Path of one root, in the order the registry lists them.
void AddRegistryFolders(std::vector<PluginFolder>* folders, HKEY root, const char* rootName) {
    HKEY plugins = nullptr;
    if (RegOpenKeyExA(root, "Software\\MozillaPlugins", 0, KEY_READ, &plugins) != ERROR_SUCCESS) {
        return;
    }
    char id[256];
    DWORD idLength = sizeof id;
    for (DWORD index = 0; RegEnumKeyExA(plugins, index, id, &idLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         index++, idLength = sizeof id) {
        char path[MAX_PATH];
        DWORD size = sizeof path;
        DWORD type = 0;
        HKEY key = nullptr;
        if (RegOpenKeyExA(plugins, id, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
            continue;
        }
        LONG read = RegQueryValueExA(key, "Path", nullptr, &type, (BYTE*)path, &size);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0) {
            continue;
        }
        path[sizeof path - 1] = '\0';
        char expanded[MAX_PATH];
        DWORD expandedLength = ExpandEnvironmentStringsA(path, expanded, sizeof expanded);
        std::string folder = expandedLength > 0 && expandedLength <= sizeof expanded ? expanded : path;
        AddFolder(folders, folder, std::string(rootName) + "\\Software\\MozillaPlugins\\" + id);
    }
    RegCloseKey(plugins);
}

std::string VersionString(const std::vector<char>& block, const char* name) {
    std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query.c_str(), (void**)&value, &length) || value == nullptr) {
        return "";
    }
    return std::string(value, strnlen(value, length));
}

std::string ExtensionOf(const std::string& url) {
    std::string path = url.substr(0, url.find_first_of("?#"));
    size_t slash = path.find_last_of("\\/");
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    return Lower(path.substr(dot + 1));
}

PluginChoice ChooseByExtension(const std::vector<FoundPlugin>& plugins, const std::string& extension) {
    for (const FoundPlugin& plugin : plugins) {
        for (const PluginMimeEntry& entry : plugin.entries) {
            for (const std::string& known : entry.extensions) {
                if (!extension.empty() && known == extension) {
                    return {&plugin, entry.type, ""};
                }
            }
        }
    }
    return {nullptr, "", extension.empty() ? "files without an extension" : "." + extension + " files"};
}

}  // namespace

std::vector<PluginFolder> PluginSearchFolders() {
    std::vector<PluginFolder> folders;
    AddRegistryFolders(&folders, HKEY_CURRENT_USER, "HKCU");
    AddRegistryFolders(&folders, HKEY_LOCAL_MACHINE, "HKLM");
    char appData[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof appData);
    if (length > 0 && length < sizeof appData) {
        AddFolder(&folders, std::string(appData) + "\\Mozilla\\plugins", "%APPDATA%\\Mozilla\\plugins");
    }
    char program[MAX_PATH];
    length = GetModuleFileNameA(nullptr, program, sizeof program);
    if (length > 0 && length < sizeof program) {
        AddFolder(&folders, ParentFolder(program) + "\\plugins", "the plugins folder beside the browser");
    }
    return folders;
}

uint16_t ReadPeMachine(const std::string& path) {
    uint16_t machine = 0;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return 0;
    }
    unsigned char dos[64];
    unsigned char header[6];
    if (fread(dos, 1, sizeof dos, file) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
        uint32_t peOffset = dos[60] | dos[61] << 8 | dos[62] << 16 | (uint32_t)dos[63] << 24;
        if (peOffset < 0x10000000 && fseek(file, (long)peOffset, SEEK_SET) == 0 &&
            fread(header, 1, sizeof header, file) == sizeof header && memcmp(header, "PE\0\0", 4) == 0) {
            machine = (uint16_t)(header[4] | header[5] << 8);
        }
    }
    fclose(file);
    return machine;
}

int ReadPluginMimeEntries(const std::string& dllPath, std::vector<PluginMimeEntry>* entries) {
    entries->clear();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(dllPath.c_str(), &handle);
    if (size == 0) {
        return 0;
    }
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(dllPath.c_str(), 0, size, block.data())) {
        return 0;
    }
    std::string types = VersionString(block, "MIMEType");
    if (types.empty()) {
        return 0;
    }
    std::vector<std::string> typeList = Split(types, '|');
    std::vector<std::string> extensionList = Split(VersionString(block, "FileExtents"), '|');
    std::vector<std::string> nameList = Split(VersionString(block, "FileOpenName"), '|');
    for (size_t i = 0; i < typeList.size(); i++) {
        PluginMimeEntry entry;
        entry.type = Lower(Trim(typeList[i]));
        if (i < extensionList.size()) {
            for (const std::string& extension : Split(extensionList[i], ',')) {
                if (!Trim(extension).empty()) {
                    entry.extensions.push_back(Lower(Trim(extension)));
                }
            }
        }
        entry.openName = i < nameList.size() ? nameList[i] : "";
        if (!entry.type.empty()) {
            entries->push_back(entry);
        }
    }
    return !entries->empty();
}

std::vector<FoundPlugin> FindPlugins() {
    std::vector<FoundPlugin> plugins;
    for (const PluginFolder& folder : PluginSearchFolders()) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder.path + "\\np*.dll").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            continue;
        }
        do {
            FoundPlugin plugin;
            plugin.path = folder.path + "\\" + found.cFileName;
            plugin.origin = folder.origin;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && ReadPeMachine(plugin.path) == OwnMachine &&
                ReadPluginMimeEntries(plugin.path, &plugin.entries)) {
                plugins.push_back(plugin);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return plugins;
}

PluginChoice ChoosePluginForEmbed(const std::vector<FoundPlugin>& plugins, const std::string& typeAttribute,
                                  const std::string& src) {
    std::string type = Lower(Trim(typeAttribute));
    if (type.empty()) {
        return ChooseByExtension(plugins, ExtensionOf(src));
    }
    for (const FoundPlugin& plugin : plugins) {
        for (const PluginMimeEntry& entry : plugin.entries) {
            if (entry.type == type) {
                return {&plugin, type, ""};
            }
        }
    }
    return {nullptr, "", type};
}

PluginChoice ChoosePluginForDocument(const std::vector<FoundPlugin>& plugins, const std::string& documentPath) {
    if (!IsHtmlPath(documentPath)) {
        return ChooseByExtension(plugins, ExtensionOf(documentPath));
    }
    std::string html;
    if (!ReadWholeFile(documentPath, &html)) {
        return {nullptr, "", "an unreadable page"};
    }
    PluginChoice none = {nullptr, "", ""};
    std::vector<EmbedElement> elements = ParseEmbedElements(html);
    for (size_t i = 0; i < elements.size(); i++) {
        std::string typeAttribute;
        for (const auto& attribute : elements[i].attributes) {
            if (Lower(attribute.first) == "type") {
                typeAttribute = attribute.second;
            }
        }
        PluginChoice choice = ChoosePluginForEmbed(plugins, typeAttribute, elements[i].src);
        if (choice.plugin != nullptr) {
            return choice;
        }
        if (none.wanted.find(choice.wanted) == std::string::npos) {
            none.wanted += (none.wanted.empty() ? "" : " or ") + choice.wanted;
        }
    }
    if (none.wanted.empty()) {
        none.wanted = "a page without <embed> elements";
    }
    return none;
}
