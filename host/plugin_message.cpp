// The plug-in's one warning box, owned by the instance's window.
#include <stdarg.h>

#include "host/plugin.h"

static const wchar_t MessageCaption[] = L"JPEG 2000 Plug-in";
// wvsprintfW never writes more than 1024 characters and the terminator.
enum { MessageBufferSize = 1025 };

static int ShowMessageText(PluginInstance* record, const wchar_t* text, UINT buttons = MB_OK) {
    HWND owner = record != nullptr ? record->window.hwnd : nullptr;
    return MessageBoxW(owner, text, MessageCaption, MB_ICONWARNING | buttons);
}

void ShowPluginMessage(PluginInstance* record, const wchar_t* format, ...) {
    wchar_t text[MessageBufferSize];
    text[0] = 0;
    va_list arguments;
    va_start(arguments, format);
    wvsprintfW(text, format, arguments);
    va_end(arguments);
    ShowMessageText(record, text);
}

int AskPluginQuestion(PluginInstance* record, const wchar_t* text) {
    return ShowMessageText(record, text, MB_OKCANCEL) == IDOK;
}

void ShowUiMessage(PluginInstance* instance, const UiText& text) {
    ShowMessageText(instance, UiString(text));
}
