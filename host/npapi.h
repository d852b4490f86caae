// The NPAPI types, tables and constants this plug-in exchanges with a browser,
// declared from the public NPAPI documentation so that their layout matches
// what Windows browsers pass (default packing; pointer-sized fields follow
// the build, 32- or 64-bit).
#ifndef HOST_NPAPI_H
#define HOST_NPAPI_H

#include <stdint.h>
#include <windows.h>

typedef int16_t NPError;
typedef int16_t NPReason;
typedef unsigned char NPBool;
typedef char* NPMIMEType;

enum {
    NPERR_NO_ERROR = 0,
    NPERR_GENERIC_ERROR = 1,
    NPERR_INVALID_INSTANCE_ERROR = 2,
    NPERR_INVALID_FUNCTABLE_ERROR = 3,
    NPERR_MODULE_LOAD_FAILED_ERROR = 4,
    NPERR_OUT_OF_MEMORY_ERROR = 5,
    NPERR_INVALID_PLUGIN_ERROR = 6,
    NPERR_INVALID_PLUGIN_DIR_ERROR = 7,
    NPERR_INCOMPATIBLE_VERSION_ERROR = 8,
    NPERR_INVALID_PARAM = 9,
    NPERR_INVALID_URL = 10,
    NPERR_FILE_NOT_FOUND = 11,
    NPERR_NO_DATA = 12,
    NPERR_STREAM_NOT_SEEKABLE = 13,
};

enum {
    NPRES_DONE = 0,
    NPRES_NETWORK_ERR = 1,
    NPRES_USER_BREAK = 2,
};

// Stream delivery types.
enum { NP_NORMAL = 1, NP_SEEK = 2, NP_ASFILE = 3, NP_ASFILEONLY = 4 };

// Instance modes.
enum { NP_EMBED = 1, NP_FULL = 2 };

typedef struct _NPP {
    void* pdata;  // plug-in's private data
    void* ndata;  // browser's private data
} NPP_t;
typedef NPP_t* NPP;

typedef struct _NPStream {
    void* pdata;
    void* ndata;
    const char* url;
    uint32_t end;  // announced length, 0 when unknown
    uint32_t lastmodified;
    void* notifyData;
    const char* headers;
} NPStream;

typedef struct _NPSavedData {
    int32_t len;
    void* buf;
} NPSavedData;

typedef struct _NPRect {
    uint16_t top;
    uint16_t left;
    uint16_t bottom;
    uint16_t right;
} NPRect;

typedef enum { NPWindowTypeWindow = 1, NPWindowTypeDrawable } NPWindowType;

typedef struct _NPWindow {
    void* window;  // HWND for a windowed plug-in
    int32_t x;
    int32_t y;
    uint32_t width;
    uint32_t height;
    NPRect clipRect;
    NPWindowType type;
} NPWindow;

typedef struct _NPFullPrint {
    NPBool pluginPrinted;
    NPBool printOne;
    void* platformPrint;
} NPFullPrint;

typedef struct _NPEmbedPrint {
    NPWindow window;
    void* platformPrint;  // HDC of the printer on Windows
} NPEmbedPrint;

typedef struct _NPPrint {
    uint16_t mode;  // NP_FULL or NP_EMBED
    union {
        NPFullPrint fullPrint;
        NPEmbedPrint embedPrint;
    } print;
} NPPrint;

// Plug-in side functions (cdecl on Windows, as NPAPI browsers call them).
typedef NPError (*NPP_NewProcPtr)(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[],
                                  char* argv[], NPSavedData* saved);
typedef NPError (*NPP_DestroyProcPtr)(NPP instance, NPSavedData** save);
typedef NPError (*NPP_SetWindowProcPtr)(NPP instance, NPWindow* window);
typedef NPError (*NPP_NewStreamProcPtr)(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable,
                                        uint16_t* stype);
typedef NPError (*NPP_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPP_StreamAsFileProcPtr)(NPP instance, NPStream* stream, const char* fname);
typedef int32_t (*NPP_WriteReadyProcPtr)(NPP instance, NPStream* stream);
typedef int32_t (*NPP_WriteProcPtr)(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
typedef void (*NPP_PrintProcPtr)(NPP instance, NPPrint* platformPrint);
typedef int16_t (*NPP_HandleEventProcPtr)(NPP instance, void* event);
typedef void (*NPP_URLNotifyProcPtr)(NPP instance, const char* url, NPReason reason, void* notifyData);
typedef NPError (*NPP_GetValueProcPtr)(NPP instance, int variable, void* value);
typedef NPError (*NPP_SetValueProcPtr)(NPP instance, int variable, void* value);

typedef struct _NPPluginFuncs {
    uint16_t size;
    uint16_t version;
    NPP_NewProcPtr newp;
    NPP_DestroyProcPtr destroy;
    NPP_SetWindowProcPtr setwindow;
    NPP_NewStreamProcPtr newstream;
    NPP_DestroyStreamProcPtr destroystream;
    NPP_StreamAsFileProcPtr asfile;
    NPP_WriteReadyProcPtr writeready;
    NPP_WriteProcPtr write;
    NPP_PrintProcPtr print;
    NPP_HandleEventProcPtr event;
    NPP_URLNotifyProcPtr urlnotify;
    void* javaClass;
    NPP_GetValueProcPtr getvalue;
    NPP_SetValueProcPtr setvalue;
} NPPluginFuncs;

// Browser side functions, up to the popup-state pair (minor version 16 on).
// The plug-in calls uagent, geturl and the popup pair; the rest fix the
// layout (the scripting members between are never called, so their types
// are left opaque).
typedef NPError (*NPN_GetURLProcPtr)(NPP instance, const char* url, const char* window);
typedef NPError (*NPN_PostURLProcPtr)(NPP instance, const char* url, const char* window, uint32_t len,
                                      const char* buf, NPBool file);
typedef NPError (*NPN_RequestReadProcPtr)(NPStream* stream, void* rangeList);
typedef NPError (*NPN_NewStreamProcPtr)(NPP instance, NPMIMEType type, const char* window, NPStream** stream);
typedef int32_t (*NPN_WriteProcPtr)(NPP instance, NPStream* stream, int32_t len, void* buffer);
typedef NPError (*NPN_DestroyStreamProcPtr)(NPP instance, NPStream* stream, NPReason reason);
typedef void (*NPN_StatusProcPtr)(NPP instance, const char* message);
typedef const char* (*NPN_UserAgentProcPtr)(NPP instance);
typedef void* (*NPN_MemAllocProcPtr)(uint32_t size);
typedef void (*NPN_MemFreeProcPtr)(void* ptr);
typedef uint32_t (*NPN_MemFlushProcPtr)(uint32_t size);
typedef void (*NPN_ReloadPluginsProcPtr)(NPBool reloadPages);
typedef void* (*NPN_GetJavaEnvProcPtr)(void);
typedef void* (*NPN_GetJavaPeerProcPtr)(NPP instance);
typedef NPError (*NPN_GetURLNotifyProcPtr)(NPP instance, const char* url, const char* window, void* notifyData);
typedef NPError (*NPN_PostURLNotifyProcPtr)(NPP instance, const char* url, const char* window, uint32_t len,
                                            const char* buf, NPBool file, void* notifyData);
typedef NPError (*NPN_GetValueProcPtr)(NPP instance, int variable, void* value);
typedef NPError (*NPN_SetValueProcPtr)(NPP instance, int variable, void* value);
typedef void (*NPN_InvalidateRectProcPtr)(NPP instance, NPRect* rect);
typedef void (*NPN_InvalidateRegionProcPtr)(NPP instance, void* region);
typedef void (*NPN_ForceRedrawProcPtr)(NPP instance);
typedef void (*NPN_PushPopupsEnabledStateProcPtr)(NPP instance, NPBool enabled);
typedef void (*NPN_PopPopupsEnabledStateProcPtr)(NPP instance);

// The first browser version whose table has the popup-state pair.
enum { NPVERS_HAS_POPUPS_ENABLED_STATE = 16 };

// The variable through which a browser on Windows gives device pixels per
// CSS pixel (a double), asked with getvalue and told with NPP_SetValue.
enum { NPNVcontentsScaleFactor = 1001 };

typedef struct _NPNetscapeFuncs {
    uint16_t size;
    uint16_t version;  // major in the high byte, minor in the low byte
    NPN_GetURLProcPtr geturl;
    NPN_PostURLProcPtr posturl;
    NPN_RequestReadProcPtr requestread;
    NPN_NewStreamProcPtr newstream;
    NPN_WriteProcPtr write;
    NPN_DestroyStreamProcPtr destroystream;
    NPN_StatusProcPtr status;
    NPN_UserAgentProcPtr uagent;
    NPN_MemAllocProcPtr memalloc;
    NPN_MemFreeProcPtr memfree;
    NPN_MemFlushProcPtr memflush;
    NPN_ReloadPluginsProcPtr reloadplugins;
    NPN_GetJavaEnvProcPtr getJavaEnv;
    NPN_GetJavaPeerProcPtr getJavaPeer;
    NPN_GetURLNotifyProcPtr geturlnotify;
    NPN_PostURLNotifyProcPtr posturlnotify;
    NPN_GetValueProcPtr getvalue;
    NPN_SetValueProcPtr setvalue;
    NPN_InvalidateRectProcPtr invalidaterect;
    NPN_InvalidateRegionProcPtr invalidateregion;
    NPN_ForceRedrawProcPtr forceredraw;
    void* scripting[19];  // getstringidentifier ... setexception
    NPN_PushPopupsEnabledStateProcPtr pushpopupsenabledstate;
    NPN_PopPopupsEnabledStateProcPtr poppopupsenabledstate;
} NPNetscapeFuncs;

// The three exports; WINAPI (stdcall) on Windows, exported undecorated
// through the module-definition file.
typedef NPError(WINAPI* NP_GetEntryPointsFunc)(NPPluginFuncs* pFuncs);
typedef NPError(WINAPI* NP_InitializeFunc)(NPNetscapeFuncs* pFuncs);
typedef NPError(WINAPI* NP_ShutdownFunc)(void);

#endif
