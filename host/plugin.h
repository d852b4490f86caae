// The per-instance record, the process-wide state of the module, and every
// operation one subsystem of the plug-in calls in another.
#ifndef HOST_PLUGIN_H
#define HOST_PLUGIN_H

#include <stdint.h>
#include <windows.h>

#include "host/npapi.h"

// The failure reason of a stream that ended before its last byte; the other
// reasons are the decoder's DecodeFailure values.
enum { FailureInterrupted = 100 };

// Progress of one instance. 2 is never set; readers compare with >= and <.
enum {
    LoadStateWaiting = 0,
    LoadStateReceiving = 1,
    LoadStateEnded = 3,
};

// Handed to the decode thread: the instance handle it finds the record by,
// and 1 from just before the thread starts until its last window call.
struct DecodeThreadBlock {
    NPP npp;
    int32_t running;
};

// One per NPAPI instance, malloc'ed zero-filled by NPP_New and freed by
// NPP_Destroy (or by a decode thread still running at that moment).
// Fields the decode thread publishes (dib, dibHeader, dibBits, loadState,
// decodeError, failureReason, fileKind, comments, commentsLength) are written with
// StoreRelease and read with LoadAcquire on the other thread.
struct PluginInstance {
    NPWindow* npWindow;
    uint16_t mode;
    HWND hwnd;
    WNDPROC prevWndProc;
    NPP npp;
    int32_t scrollActive;
    int32_t scrollX;
    int32_t scrollY;
    int32_t clientWidth;
    int32_t clientHeight;
    int32_t hScrollShown;
    int32_t vScrollShown;
    char url[260];
    int32_t hasLink;
    HCURSOR linkCursor;
    char href[1024];
    char target[256];
    uint8_t* data;
    int32_t dataSize;
    int32_t dataLength;
    int32_t dataCapacity;
    int32_t fileKind;
    uint8_t* dib;
    uint8_t* dibBits;
    BITMAPINFOHEADER* dibHeader;
    int32_t loadState;
    int32_t decodeError;
    // Why decodeError is set: a DecodeFailure value or FailureInterrupted;
    // published before decodeError.
    int32_t failureReason;
    int32_t fitToWindow;
    DecodeThreadBlock decodeThread;
    uint8_t* comments;
    uint32_t commentsLength;
    // UI-thread only: how many modal loops (menu, dialogs, message boxes) are
    // running on this record, and whether NPP_Destroy came during one. The
    // browser may destroy the instance from inside such a loop; the record
    // then lives until the outermost loop has returned.
    int32_t modalDepth;
    int32_t destroyPending;
};

template <typename T>
inline void StoreRelease(T* field, T value) {
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
}
template <typename T>
inline T LoadAcquire(const T* field) {
    return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

// Process-wide state, set at load and by the entry points only.
extern HINSTANCE ModuleHandle;
extern LANGID UiLanguage;
extern HCURSOR LinkCursorMicrosoft;
extern HCURSOR LinkCursorOther;
extern HICON AboutIconFrames[4];
extern HICON CommentsIcon;
// Current About animation frame, 0 to 3 (icon 112 + index); 0 at load.
extern int32_t AboutFrameIndex;
extern NPPluginFuncs* PluginFuncs;
extern NPNetscapeFuncs* BrowserFuncs;

inline bool IsJapaneseUi() { return UiLanguage == 1041; }

// Module start-up: what the DLL entry does on process attach. Test programs
// that link the plug-in's code statically call it with their own module.
void InitializeModule(HINSTANCE module);

// The one warning box: wvsprintfA into 2048 bytes, caption "JPEG 2000 Plug-in",
// owner = record's hwnd (none for a null record).
void ShowPluginMessage(PluginInstance* record, const char* format, ...);

const char* NPN_UserAgent(NPP instance);
NPError NPN_GetURL(NPP instance, const char* url, const char* target);

// Instance record helpers.
void UpdateClientSize(PluginInstance* record);

// Bracket every piece of UI-thread work that runs a modal loop and uses the
// record afterwards. EndModalUse releases the record when NPP_Destroy came
// during the loop, so the caller must not touch it after EndModalUse.
void BeginModalUse(PluginInstance* record);
void EndModalUse(PluginInstance* record);

// NPP_ functions placed in the browser's table.
NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NPP_Print(NPP instance, NPPrint* platformPrint);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);

// Display window.
LRESULT CALLBACK PluginWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void ComputeFitSize(int32_t* outWidth, int32_t* outHeight, int32_t clientWidth, int32_t clientHeight,
                    int32_t imageWidth, int32_t imageHeight);
void UpdateScrollBars(PluginInstance* instance);
void HandleScroll(PluginInstance* instance, UINT message, int code, int position);
void ShowContextMenu(PluginInstance* instance, HWND window);
void ShowAboutDialog(PluginInstance* instance);

// Image commands.
void FileNameFromUrl(char* nameOut, const char* url);
void SaveImageAs(PluginInstance* instance);
void CopyToClipboard(PluginInstance* instance, const void* bytes, uint32_t size, UINT format);
void SetWallpaper(PluginInstance* owner, const uint8_t* dib);
void ShowCommentsDialog(PluginInstance* instance);

#endif
