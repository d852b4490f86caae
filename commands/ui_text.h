// A user-visible text in its two languages, picked by the UI language.
#ifndef COMMANDS_UI_TEXT_H
#define COMMANDS_UI_TEXT_H

#include "host/plugin.h"

struct UiText {
    const char* english;
    const char* japanese;
};

inline const char* PickText(const UiText& text) { return IsJapaneseUi() ? text.japanese : text.english; }

// Shows one bilingual warning; the text is never taken as a format.
inline void ShowUiMessage(PluginInstance* instance, const UiText& text) {
    ShowPluginMessage(instance, "%s", PickText(text));
}

#endif
