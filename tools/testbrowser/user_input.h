// What a person does to a page in the test browser: keys, wheel turns,
// clicks and drags sent to a plug-in's window by name, and the names of
// keys that reach the browser's own window.
#ifndef TESTBROWSER_USER_INPUT_H
#define TESTBROWSER_USER_INPUT_H

#include <string>

#include "browser_page.h"

// Sends a space-separated list of inputs to the instance's window, waiting
// for the page to settle after each; keys go on into a menu or dialog an
// input opened ("apps esc", "ctrl+s esc"). waitMs bounds the whole list. Names: a key (plus, minus, 0-9, a-z,
// left, right, up, down, pgup, pgdn, home, end, space, tab, esc, enter,
// apps, f1-f12) with any of the prefixes ctrl+, shift+, alt+; wheel-up,
// wheel-down, wheel-left, wheel-right (with the same prefixes, at the
// window's middle or at @X,Y); click@X,Y; drag@X1,Y1-X2,Y2 (client
// pixels); wait@MS, a pause before the next input. 0 with a message on stderr for a name it does not know, before
// anything is sent.
int SendUserInput(PageInstance* instance, const std::string& inputs, int waitMs);

// The name of a key message that reached a frame ("ctrl+w", "f5"), with the
// modifiers held; empty for a key without a name.
std::string NameKeyMessage(UINT message, WPARAM wParam, LPARAM lParam);

#endif
