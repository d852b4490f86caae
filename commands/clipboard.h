// The clipboard step every copy command shares.
#ifndef COMMANDS_CLIPBOARD_H
#define COMMANDS_CLIPBOARD_H

#include <stdint.h>

#include "host/plugin.h"

// Puts size bytes (null: nothing) on the clipboard in `format`, naming the step that failed
// in a warning owned by the instance's window.
void CopyToClipboard(PluginInstance* instance, const void* bytes, uint32_t size, UINT format);

#endif
