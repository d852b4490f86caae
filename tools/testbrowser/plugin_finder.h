// Plug-in discovery as Gecko-family browsers do it on Windows: the folders
// named by HKCU, then HKLM, Software\MozillaPlugins\<id> value Path (in this
// program's own registry view; a Path naming a file stands for its folder),
// then %APPDATA%\Mozilla\plugins, then a "plugins" folder beside the program.
// In each folder every np*.dll of this program's PE machine is kept, with the
// MIME types, extensions and open-dialog names of its version resource's
// 040904E4 block; and a document's plug-in is picked from that list.
#ifndef TESTBROWSER_PLUGIN_FINDER_H
#define TESTBROWSER_PLUGIN_FINDER_H

#include <stdint.h>

#include <string>
#include <vector>

// One MIME type a plug-in registers: its extensions ("jpg,jpeg" gives two)
// and the name an open dialog shows. Type and extensions in lower case.
struct PluginMimeEntry {
    std::string type;
    std::vector<std::string> extensions;
    std::string openName;
};

struct FoundPlugin {
    std::string path;    // the DLL
    std::string origin;  // where its folder came from, as a person would name it
    std::vector<PluginMimeEntry> entries;
};

// The search folders in browser order, each once (compared without case),
// each with the place it came from; folders that do not exist are left out.
struct PluginFolder {
    std::string path;
    std::string origin;
};
std::vector<PluginFolder> PluginSearchFolders();

// The PE machine of an image file (IMAGE_FILE_MACHINE_*), 0 when the file is
// not a PE image.
uint16_t ReadPeMachine(const std::string& path);

// The 040904E4 MIMEType/FileExtents/FileOpenName lists of a DLL, item by
// item ("|"-separated). 0 when the DLL has no MIMEType there.
int ReadPluginMimeEntries(const std::string& dllPath, std::vector<PluginMimeEntry>* entries);

// Every usable plug-in of the search folders, in search order.
std::vector<FoundPlugin> FindPlugins();

// The plug-in for a document and the MIME type it was picked for. An
// <embed> with a type attribute is matched by type, otherwise by the
// extension of its src; the first element a plug-in handles decides. A
// full-page file is matched by its extension. Without a match, plugin is
// null and wanted says what no plug-in handles (".jp2 files or image/jp2").
struct PluginChoice {
    const FoundPlugin* plugin;
    std::string type;
    std::string wanted;
};
PluginChoice ChoosePluginForEmbed(const std::vector<FoundPlugin>& plugins, const std::string& typeAttribute,
                                  const std::string& src);
PluginChoice ChoosePluginForDocument(const std::vector<FoundPlugin>& plugins, const std::string& documentPath);

#endif
