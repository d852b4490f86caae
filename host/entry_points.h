// The three exported NPAPI entry points, for programs that link the plug-in's
// code directly instead of loading the DLL.
#ifndef HOST_ENTRY_POINTS_H
#define HOST_ENTRY_POINTS_H

#include "host/npapi.h"

extern "C" {
NPError WINAPI NP_GetEntryPoints(NPPluginFuncs* pFuncs);
NPError WINAPI NP_Initialize(NPNetscapeFuncs* pFuncs);
NPError WINAPI NP_Shutdown(void);
}

#endif
