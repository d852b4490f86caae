// Creation and destruction of instance records, the element's attributes
// (the record's element part), the one entry into commands and its guard,
// which keeps a record alive through a modal loop (its modal part), and
// handing the browser's window to the display.
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include "decode/jpeg2000.h"
#include "host/decoder_pool.h"
#include "host/host_internal.h"
#include "window/window.h"

namespace {

// Element attributes the plug-in reads: where each value goes and whether
// its presence makes the element a link.
struct AttributeRule {
    const char* name;
    size_t fieldOffset;
    size_t fieldSize;
    int32_t setsLink;
};

const AttributeRule AttributeRules[] = {
    {"href", offsetof(ElementSettings, href), sizeof(((ElementSettings*)0)->href), 1},
    {"target", offsetof(ElementSettings, target), sizeof(((ElementSettings*)0)->target), 0},
};

void ReadAttributes(PluginInstance* record, int16_t argc, char* argn[], char* argv[]) {
    for (int16_t i = 0; argn && argv && i < argc; ++i) {
        if (!argn[i]) {
            continue;
        }
        for (const AttributeRule& rule : AttributeRules) {
            if (EqualsIgnoringAsciiCase(argn[i], rule.name)) {
                CopyBounded((char*)&record->element + rule.fieldOffset, rule.fieldSize, argv[i]);
                record->element.hasLink |= rule.setsLink;
                break;
            }
        }
    }
}

void FinishDestroy(PluginInstance* record) {
    // A waiting decode leaves the queue now. A decode still running keeps
    // reading the buffer and will publish into the record: rather than wait
    // for it (a big decode takes seconds, and the browser would freeze), the
    // record is handed over and its decode thread releases it.
    if (!LeaveDecodeQueue(record)) {
        ReleaseRecord(record);
    }
}

// Drops the library reference one modal loop took (BeginModalUse).
void ReleaseModalReference() {
    HMODULE module = NULL;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCWSTR)(void*)&ReleaseModalReference, &module)) {
        return;
    }
    // While the browser has the plug-in initialised it holds its own
    // reference, so this one is never the last.
    if (BrowserFuncs != NULL) {
        FreeLibrary(module);
        return;
    }
    // After NP_Shutdown it may be the last: freeing it here would unmap the
    // code this thread is about to return into. The release is queued to
    // this thread instead and runs at its next alertable wait, which is
    // always in the browser's code (this library never waits alertably);
    // FreeLibrary has the shape of an APC routine (one pointer-sized
    // argument, WINAPI), and returns into the system's APC dispatcher.
    QueueUserAPC((PAPCFUNC)(void*)&FreeLibrary, GetCurrentThread(), (ULONG_PTR)module);
}

}  // namespace

void ReleaseRecord(PluginInstance* record) {
    FreeReception(record);
    FreePicture(record);
    ReleaseRegionBitmaps(record);
    ReleasePartialPictures(record);
    free(record);
}

NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved) {
    (void)pluginType;
    (void)saved;
    if (!instance) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* record = (PluginInstance*)calloc(1, sizeof(PluginInstance));
    instance->pdata = record;
    if (!record) {
        return NPERR_OUT_OF_MEMORY_ERROR;
    }
    // The first instance starts the decoder processes while its file downloads.
    StartDecoderPool();
    record->element.mode = mode;
    record->element.npp = instance;
    ClearPicture(record);
    CopyBounded(record->element.target, sizeof record->element.target, "_self");
    const char* agent = NPN_UserAgent(instance);
    record->element.linkCursor = (agent && strncmp(agent, "Microsoft", 9) == 0) ? LinkCursorMicrosoft : LinkCursorOther;
    ReadAttributes(record, argc, argn, argv);
    return NPERR_NO_ERROR;
}

NPError NPP_SetWindow(NPP instance, NPWindow* window) {
    if (!instance || !instance->pdata) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    AttachWindow((PluginInstance*)instance->pdata, window ? (HWND)window->window : NULL);
    return NPERR_NO_ERROR;
}

// The browser tells of a new screen scale (the window moved to another
// screen, or the system's setting changed); other variables are not ours.
NPError NPP_SetValue(NPP instance, int variable, void* value) {
    if (!instance || !instance->pdata) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    if (variable != NPNVcontentsScaleFactor || !value) {
        return NPERR_GENERIC_ERROR;
    }
    ChangeContentsScale((PluginInstance*)instance->pdata, *(const double*)value);
    return NPERR_NO_ERROR;
}

NPError NPP_Destroy(NPP instance, NPSavedData** save) {
    (void)save;
    if (!instance || !instance->pdata) {
        return NPERR_INVALID_INSTANCE_ERROR;
    }
    PluginInstance* record = (PluginInstance*)instance->pdata;
    AttachWindow(record, NULL);
    instance->pdata = NULL;
    // A menu or dialog of this record still runs its loop further up the
    // stack and reads the record when it returns: EndModalUse finishes.
    if (record->modal.depth > 0) {
        record->modal.destroyPending = 1;
        return NPERR_NO_ERROR;
    }
    FinishDestroy(record);
    return NPERR_NO_ERROR;
}

// A modal loop runs inside this library's code, and the browser may shut
// the plug-in down and unload the library while it runs (after the last
// NPP_Destroy): each loop therefore holds a reference on the library.
void BeginModalUse(PluginInstance* record) {
    record->modal.depth++;
    HMODULE module = NULL;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, (LPCWSTR)(void*)&BeginModalUse, &module);
}

void EndModalUse(PluginInstance* record) {
    if (--record->modal.depth == 0 && record->modal.destroyPending) {
        FinishDestroy(record);
    }
    ReleaseModalReference();
}

void RunCommand(PluginInstance* record, RecordCommand command, void* context) {
    if (record == NULL || record->modal.destroyPending) {
        return;
    }
    BeginModalUse(record);
    command(record, context);
    EndModalUse(record);
}
