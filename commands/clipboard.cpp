// The copy commands: the decoded frame, the image's address or the link's,
// each put on the Windows clipboard as one block, naming the step that failed
// in a warning.
#include "commands/clipboard.h"

#include <string.h>

#include "commands/commands.h"
#include "decode/jpeg2000.h"

namespace {

const UiText ClipboardTextCannotOpen = {"Can't open the clipboard", "クリップボードを開けません"};
const UiText ClipboardTextCannotClear = {"Can't clear the clipboard", "クリップボードをクリアできません"};
const UiText ClipboardTextNoMemory = {"Can't allocate memory for clipboard",
                                      "クリップボード用のメモリが不足しています"};
const UiText ClipboardTextCannotSet = {"Can't set clipboard data", "クリップボードにデータをセットできません"};
const UiText NoImageToCopy = {"No image to copy!", "コピーすべき画像がありません"};

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
    if (!OpenClipboard(instance != nullptr ? instance->window.hwnd : nullptr)) {
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

void CopyCurrentFrame(PluginInstance* instance) {
    ImageView full;
    int failure = 0;
    if (!AcquireFullPicture(&full, &failure, instance)) {
        if (failure == 0) {
            ShowUiMessage(instance, NoImageToCopy);
        } else {
            WarnNoFullPicture(instance, failure);
        }
        return;
    }
    const uint8_t* dib = (const uint8_t*)full.info;
    int size = PackedDibSize(dib);
    if (size > 0) CopyToClipboard(instance, dib, (uint32_t)size, CF_DIB);
    ReleaseFullPicture(instance);
}

void CopyImageLocation(PluginInstance* instance) {
    const char* url = InstanceUrl(instance);
    CopyToClipboard(instance, url, (uint32_t)strlen(url) + 1, CF_TEXT);
}

void CopyShortcut(PluginInstance* instance) {
    const char* href = instance->element.href;
    if (instance->element.hasLink) CopyToClipboard(instance, href, (uint32_t)strlen(href) + 1, CF_TEXT);
}
