// Exports the decoded image of each input file the way a user gets it: a
// bitmap file through Save Image As (bitmap filter, path typed into the real
// dialog) and the CF_DIB block through Copy Current Frame.
// Usage: commands_bitmap_export OUTPUT_DIRECTORY INPUT...
// Writes NAME.bmp and NAME.dib per input that decodes; prints one line each.
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include <string>

#include "commands/commands.h"
#include "decode/jpeg2000.h"
#include "test_instances.h"
#include "ui_driver.h"
#include "window/context_menu.h"

namespace {

const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p != 0; p++) {
        if (*p == '/' || *p == '\\') name = p + 1;
    }
    return name;
}

bool WriteClipboardDib(const std::string& path, size_t size) {
    if (!OpenClipboard(nullptr)) return false;
    bool written = false;
    HANDLE data = GetClipboardData(CF_DIB);
    const void* bytes = data != nullptr && GlobalSize(data) >= size ? GlobalLock(data) : nullptr;
    if (bytes != nullptr) {
        written = WriteFileBytes(path, bytes, size);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return written;
}

// Copy Current Frame, then the CF_DIB block into a file. Another test
// process may hold the clipboard a moment: the plug-in then says so in a
// box, which is answered here, and the copy is tried again.
bool CopyFrameToFile(PluginInstance* instance, const std::string& path) {
    for (int attempt = 0; attempt < 20; attempt++) {
        std::vector<std::string> messages;
        RunModal([&] { RunMenuCommand(instance, ID_COPY_CURRENT_FRAME); }, {AnswerPluginMessage(&messages)});
        if (messages.empty() && WriteClipboardDib(path, (size_t)PackedDibSize(instance->picture.dib))) {
            return true;
        }
        Sleep(250);
    }
    return false;
}

// 1 exported, 0 failed, -1 the file does not decode.
int ExportOne(const char* outputDirectory, const char* input) {
    PluginInstance* instance = NewTestInstance(CreateOwnerWindow());
    int result = -1;
    if (LoadImageFile(instance, input, BaseName(input))) {
        // The dialog takes the path as a user would type it: backslashes only.
        std::string stem = std::string(outputDirectory) + "\\" + BaseName(input);
        for (char& c : stem) {
            if (c == '/') c = '\\';
        }
        DeleteFileA((stem + ".bmp").c_str());
        std::vector<std::string> messages;
        SaveDialogView view;
        int steps = RunModal([&] { SaveImageAs(instance); },
                             {AnswerSaveDialog(&view, 2, stem + ".bmp"), AnswerPluginMessage(&messages)});
        bool copied = CopyFrameToFile(instance, stem + ".dib");
        bool saved = GetFileAttributesA((stem + ".bmp").c_str()) != INVALID_FILE_ATTRIBUTES;
        result = steps == 1 && messages.empty() && saved && copied ? 1 : 0;
    }
    FreeTestInstance(instance);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: commands_bitmap_export OUTPUT_DIRECTORY INPUT...\n");
        return 2;
    }
    StartPlugin();
    int failures = 0;
    for (int i = 2; i < argc; i++) {
        int result = ExportOne(argv[1], argv[i]);
        printf("%s %s\n", result == 1 ? "exported" : result == 0 ? "FAILED" : "undecodable", BaseName(argv[i]));
        fflush(stdout);  // a run that hangs still shows how far it got
        if (result == 0) failures++;
    }
    return failures == 0 ? 0 : 1;
}
