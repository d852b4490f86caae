// The plug-in's one warning box, owned by the instance's window.
#include <stdarg.h>

#include "host/plugin.h"

static const wchar_t MessageCaption[] = L"JPEG 2000 Plug-in";
// wvsprintfW never writes more than 1024 characters and the terminator.
enum { MessageBufferSize = 1025 };

// A box for an element the browser destroyed would speak of a page that is
// gone: none is shown, and a question is answered Cancel, also when the
// element went while the box was up.
static int ShowMessageText(PluginInstance* record, const wchar_t* text, UINT buttons = MB_OK) {
    if (record != nullptr && InstanceDestroyed(record)) {
        return IDCANCEL;
    }
    HWND owner = record != nullptr ? record->window.hwnd : nullptr;
    int answer = MessageBoxW(owner, text, MessageCaption, MB_ICONWARNING | buttons);
    return record != nullptr && InstanceDestroyed(record) ? IDCANCEL : answer;
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
