// Puts one block of bytes on the Windows clipboard in a given format,
// naming the step that failed in a warning.
#include <string.h>

#include "commands/ui_text.h"
#include "host/plugin.h"

namespace {

const UiText ClipboardTextCannotOpen = {"Can't open the clipboard", "クリップボードを開けません"};
const UiText ClipboardTextCannotClear = {"Can't clear the clipboard", "クリップボードをクリアできません"};
const UiText ClipboardTextNoMemory = {"Can't allocate memory for clipboard",
                                      "クリップボード用のメモリが不足しています"};
const UiText ClipboardTextCannotSet = {"Can't set clipboard data", "クリップボードにデータをセットできません"};

// A moveable global block holding a copy of the bytes; null on failure.
HGLOBAL CopyToGlobalBlock(const void* bytes, uint32_t size) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, size);
    if (block == nullptr) return nullptr;
    void* target = GlobalLock(block);
    if (target == nullptr) {
        GlobalFree(block);
        return nullptr;
    }
    memcpy(target, bytes, size);
    GlobalUnlock(block);
    return block;
}

}  // namespace

void CopyToClipboard(PluginInstance* instance, const void* bytes, uint32_t size, UINT format) {
    if (bytes == nullptr) return;
    // Owned by the plug-in's window: a clipboard opened without an owner
    // cannot be emptied into a valid owner, and delayed-rendering requests
    // would go nowhere.
    if (!OpenClipboard(instance != nullptr ? instance->hwnd : nullptr)) {
        ShowUiMessage(instance, ClipboardTextCannotOpen);
        return;
    }
    const UiText* failure = nullptr;
    HGLOBAL block = nullptr;
    if (!EmptyClipboard()) {
        failure = &ClipboardTextCannotClear;
    } else if ((block = CopyToGlobalBlock(bytes, size)) == nullptr) {
        failure = &ClipboardTextNoMemory;
    } else if (SetClipboardData(format, block) == nullptr) {
        // The system did not take the block: it is still ours.
        GlobalFree(block);
        failure = &ClipboardTextCannotSet;
    }
    // Closed before the warning: a message box waits for the user, and an
    // open clipboard would refuse every other program meanwhile.
    CloseClipboard();
    if (failure != nullptr) ShowUiMessage(instance, *failure);
}
