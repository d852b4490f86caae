// The right-click menu (inside window/ and for its tests): command
// identifiers, the menu described as data from an instance's state, and the
// label rule of its view/refresh item.
#ifndef WINDOW_CONTEXT_MENU_H
#define WINDOW_CONTEXT_MENU_H

#include <stdint.h>
#include <windows.h>

#include "host/plugin.h"

enum {
    ID_SAVE_IMAGE_AS = 47000,
    ID_COPY_CURRENT_FRAME = 47001,
    ID_COPY_IMAGE_LOCATION = 47002,
    ID_VIEW_IMAGE = 47003,
    ID_ABOUT = 47004,
    ID_COPY_SHORTCUT = 47007,
    ID_IMAGE_COMMENTS = 47010,
    ID_OPEN_LINK = 47011,
    ID_OPEN_LINK_NEW_WINDOW = 47012,
    ID_FIT_TO_WINDOW = 47013,
    ID_SET_WALLPAPER = 47014,
    ID_PRINT_PICTURE = 47015,
    ID_NEXT_PAGE = 47016,
    ID_PREVIOUS_PAGE = 47017,
};

enum {
    MenuLabelSize = 8192,
    MenuRowLimit = 20,
};

// One entry as it is handed to AppendMenuW: flags (MF_STRING or
// MF_SEPARATOR, with MF_GRAYED and MF_CHECKED), identifier and label (null
// for a separator).
struct MenuRow {
    UINT flags;
    UINT id;
    const wchar_t* label;
};

// The rows in order; the view/refresh label, made from the URL, lives in
// viewLabel, every other label is a constant text.
struct MenuDescription {
    int count;
    MenuRow rows[MenuRowLimit];
    wchar_t viewLabel[MenuLabelSize];
};

// The menu for the instance's present state in the UI language.
void DescribeContextMenu(MenuDescription* menuOut, const PluginInstance* instance);

// The label of the view/refresh item into labelOut (MenuLabelSize
// characters); the file name is the URL's bytes read in the ANSI code page.
void FormatViewImageLabel(wchar_t* labelOut, const PluginInstance* instance);

// Shortens a name to 50 bytes and makes it safe as menu text, in place;
// the text needs room for 101 bytes, since every "&" is doubled.
void EscapeMenuLabel(char* text);

// Carries out one chosen command through RunCommand (the record may be
// gone afterwards); 0 and unknown identifiers do nothing.
void RunMenuCommand(PluginInstance* instance, UINT id);

// The same for a shortcut key: only when the menu would offer the command
// (present and not greyed).
void RunEnabledCommand(PluginInstance* instance, UINT id);

#endif
