// Operations on the instance record itself.
#include "host/plugin.h"

void UpdateClientSize(PluginInstance* record) {
    // A detached record or a vanished window has no client area: it reads as
    // 0 x 0 rather than keeping a size from an earlier window.
    RECT client = {0, 0, 0, 0};
    if (record->hwnd == nullptr || !GetClientRect(record->hwnd, &client)) {
        client.right = 0;
        client.bottom = 0;
    }
    record->clientWidth = client.right;
    record->clientHeight = client.bottom;
}
