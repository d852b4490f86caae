// The plug-in's one warning box, owned by the instance's window.
#include <stdarg.h>

#include "host/plugin.h"

static const char MessageCaption[] = "JPEG 2000 Plug-in";
enum { MessageBufferSize = 2048 };

void ShowPluginMessage(PluginInstance* record, const char* format, ...) {
    // wvsprintfA never writes more than 1024 bytes, well inside the buffer.
    char text[MessageBufferSize];
    text[0] = '\0';
    va_list arguments;
    va_start(arguments, format);
    wvsprintfA(text, format, arguments);
    va_end(arguments);
    HWND owner = record != nullptr ? record->hwnd : nullptr;
    MessageBoxA(owner, text, MessageCaption, MB_ICONWARNING | MB_OK);
}
