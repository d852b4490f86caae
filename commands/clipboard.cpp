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

// Fills a block of `size` bytes at `target`; 0 when it could not.
typedef int (*BlockFiller)(uint8_t* target, uint32_t size, const void* context);

int FillWithBytes(uint8_t* target, uint32_t size, const void* bytes) {
    memcpy(target, bytes, size);
    return 1;
}

// Where the next piece of a picture goes, and the room left.
struct BlockCursor {
    uint8_t* at;
    uint32_t left;
};

int TakePiece(void* context, const uint8_t* bytes, uint32_t count) {
    BlockCursor* cursor = (BlockCursor*)context;
    if (count > cursor->left) return 0;
    memcpy(cursor->at, bytes, count);
    cursor->at += count;
    cursor->left -= count;
    return 1;
}

// The picture piece by piece (a view at a time from a decoder's section), so
// that the global block is the one whole copy.
int FillWithPicture(uint8_t* target, uint32_t size, const void* picture) {
    BlockCursor cursor = {target, size};
    return ReadFullPicture((const FullPicture*)picture, TakePiece, &cursor) && cursor.left == 0;
}

// A moveable global block of `size` bytes filled by `fill`; null on failure.
HGLOBAL FillGlobalBlock(uint32_t size, BlockFiller fill, const void* context) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DDESHARE, size);
    if (block == nullptr) return nullptr;
    uint8_t* target = (uint8_t*)GlobalLock(block);
    int filled = target != nullptr && fill(target, size, context);
    if (target != nullptr) GlobalUnlock(block);
    if (!filled) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

// Puts a block of `size` bytes filled by `fill` on the clipboard in
// `format`, naming the step that failed in a warning. The block is made
// first: without it the clipboard keeps what it held.
void PlaceOnClipboard(PluginInstance* instance, uint32_t size, UINT format, BlockFiller fill, const void* context) {
    HGLOBAL block = FillGlobalBlock(size, fill, context);
    const UiText* failure = nullptr;
    bool opened = false;
    // Owned by the plug-in's window: a clipboard opened without an owner
    // cannot be emptied into a valid owner, and delayed-rendering requests
    // would go nowhere.
    if (block == nullptr) {
        failure = &ClipboardTextNoMemory;
    } else if (!(opened = OpenClipboard(instance != nullptr ? instance->window.hwnd : nullptr))) {
        failure = &ClipboardTextCannotOpen;
    } else if (!EmptyClipboard()) {
        failure = &ClipboardTextCannotClear;
    } else if (SetClipboardData(format, block) != nullptr) {
        block = nullptr;  // the system's now
    } else {
        failure = &ClipboardTextCannotSet;
    }
    if (block != nullptr) GlobalFree(block);
    // Closed before the warning: a message box waits for the user, and an
    // open clipboard would refuse every other program meanwhile.
    if (opened) CloseClipboard();
    if (failure != nullptr) ShowUiMessage(instance, *failure);
}

}  // namespace

void CopyToClipboard(PluginInstance* instance, const void* bytes, uint32_t size, UINT format) {
    if (bytes == nullptr) return;
    PlaceOnClipboard(instance, size, format, FillWithBytes, bytes);
}

void CopyCurrentFrame(PluginInstance* instance) {
    FullPicture full;
    int failure = 0;
    if (!AcquireFullPicture(&full, &failure, instance)) {
        if (failure == 0) {
            ShowUiMessage(instance, NoImageToCopy);
        } else {
            WarnNoFullPicture(instance, failure);
        }
        return;
    }
    if (full.bytes > 0) PlaceOnClipboard(instance, full.bytes, CF_DIB, FillWithPicture, &full);
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
