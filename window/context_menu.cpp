// The right-click menu: built from the instance's state, tracked at the
// mouse position, and the chosen command carried out at once; the table of
// commands, each run through the record's guard (RunCommand), whether from
// the menu or a shortcut key.
#include "window/context_menu.h"

#include <string.h>

#include "commands/commands.h"
#include "window/display.h"

namespace {

typedef bool (*InstanceTest)(const PluginInstance* instance);

bool Always(const PluginInstance*) { return true; }
bool Never(const PluginInstance*) { return false; }
bool HasLink(const PluginInstance* instance) { return instance->element.hasLink != 0; }
bool IsFullPage(const PluginInstance* instance) { return instance->element.mode == NP_FULL; }
bool CannotView(const PluginInstance* instance) {
    return LoadAcquire(&instance->reception.loadState) != LoadStateEnded &&
           LoadAcquire(&instance->picture.decodeError) != 1;
}
bool StreamIncomplete(const PluginInstance* instance) {
    return LoadAcquire(&instance->reception.loadState) < LoadStateEnded;
}
// The full picture is decoded when a command needs it: only a file that has
// not ended, or whose decode failed, has none to give.
bool HasNoImage(const PluginInstance* instance) {
    return LoadAcquire(&instance->reception.loadState) != LoadStateEnded ||
           LoadAcquire(&instance->picture.decodeError) != 0;
}
bool HasNoComments(const PluginInstance* instance) { return LoadAcquire(&instance->picture.comments) == nullptr; }
bool FitsToWindow(const PluginInstance* instance) { return !instance->scroll.fixedScale; }
bool IsDocument(const PluginInstance* instance) { return HasPages(instance) != 0; }
bool LacksNextPage(const PluginInstance* instance) { return !HasNextPage(instance); }
bool LacksPreviousPage(const PluginInstance* instance) { return !HasPreviousPage(instance); }

// One row of the menu: a separator when id is 0; the view item takes its
// label from FormatViewImageLabel.
struct MenuItemRule {
    UINT id;
    UiText text;
    InstanceTest present;
    InstanceTest greyed;
    InstanceTest checked;
};

const MenuItemRule MenuItemRules[] = {
    {ID_OPEN_LINK, {"&Open This Link", "リンクを開く(&O)"}, HasLink, Never, Never},
    {ID_OPEN_LINK_NEW_WINDOW, {"Open This Link by &New Window", "リンクを新しいウインドウで開く(&N)"}, HasLink,
     Never, Never},
    {0, {nullptr, nullptr}, HasLink, Never, Never},
    {ID_VIEW_IMAGE, {nullptr, nullptr}, Always, CannotView, Never},
    {ID_NEXT_PAGE, {"Ne&xt Page", "次のページ(&X)"}, IsDocument, LacksNextPage, Never},
    {ID_PREVIOUS_PAGE, {"Pr&evious Page", "前のページ(&E)"}, IsDocument, LacksPreviousPage, Never},
    {ID_SAVE_IMAGE_AS, {"Save &Image As...", "画像に名前を付けて保存(&I)..."}, Always, StreamIncomplete, Never},
    {ID_PRINT_PICTURE, {"&Print Picture...", "画像を印刷(&P)..."}, Always, HasNoImage, Never},
    {ID_FIT_TO_WINDOW, {"&Fit image to window", "画像を画面に合わせる(&F)"}, IsFullPage, StreamIncomplete,
     FitsToWindow},
    {ID_SET_WALLPAPER, {"Set &Wallpaper As...", "壁紙に設定(&W)..."}, Always, HasNoImage, Never},
    {0, {nullptr, nullptr}, Always, Never, Never},
    {ID_COPY_CURRENT_FRAME, {"&Copy Current Frame", "現在のフレームをコピー(&C)"}, Always, HasNoImage, Never},
    {ID_COPY_IMAGE_LOCATION, {"Cop&y Image Location", "画像の場所をコピー(&Y)"}, Always, Never, Never},
    {ID_COPY_SHORTCUT, {"Copy This Shor&tcut", "ショートカットのコピー(&T)"}, HasLink, Never, Never},
    {0, {nullptr, nullptr}, Always, Never, Never},
    {ID_IMAGE_COMMENTS, {"Image co&mments", "画像のコメントを表示(&M)"}, Always, HasNoComments, Never},
    {ID_ABOUT, {"&About JPEG 2000 Plug-in", "JPEG 2000 Plug-inについて(&A)"}, Always, Never, Never},
};

// Labels of the view item by mode and by whether a file name is known.
struct ViewLabelRule {
    bool fullPage;
    bool withName;
    UiText format;
};
const ViewLabelRule ViewLabelRules[] = {
    {true, true, {"&Refresh (%ls)", "画像を再描画(&V) (%ls)"}},
    {true, false, {"&Refresh", "画像を再描画(&V)"}},
    {false, true, {"&View Image (%ls)", "画像を表示(&V) (%ls)"}},
    {false, false, {"&View Image", "画像を表示(&V)"}},
};

void RunSetWallpaper(PluginInstance* instance) {
    FullPicture full;
    int failure = 0;
    if (AcquireFullPicture(&full, &failure, instance)) {
        SetWallpaper(instance, &full);
        ReleaseFullPicture(instance);
    } else if (failure != 0) {
        WarnNoFullPicture(instance, failure);
    }
}

struct MenuCommand {
    UINT id;
    void (*run)(PluginInstance* instance);
};
const MenuCommand MenuCommands[] = {
    {ID_SAVE_IMAGE_AS, SaveImageAs},
    {ID_COPY_CURRENT_FRAME, CopyCurrentFrame},
    {ID_COPY_IMAGE_LOCATION, CopyImageLocation},
    {ID_VIEW_IMAGE, ViewImage},
    {ID_ABOUT, ShowAboutDialog},
    {ID_COPY_SHORTCUT, CopyShortcut},
    {ID_IMAGE_COMMENTS, ShowCommentsDialog},
    {ID_OPEN_LINK, OpenLink},
    {ID_OPEN_LINK_NEW_WINDOW, OpenLinkInNewWindow},
    {ID_FIT_TO_WINDOW, ToggleFitToWindow},
    {ID_SET_WALLPAPER, RunSetWallpaper},
    {ID_PRINT_PICTURE, PrintPicture},
    {ID_NEXT_PAGE, ShowNextPage},
    {ID_PREVIOUS_PAGE, ShowPreviousPage},
};

void RunCommandRow(PluginInstance* instance, void* row) { ((const MenuCommand*)row)->run(instance); }

struct MenuPlace {
    HWND window;
    POINT cursor;
};

void TrackContextMenu(PluginInstance* instance, void* context) {
    const MenuPlace* place = (const MenuPlace*)context;
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    MenuDescription description;
    DescribeContextMenu(&description, instance);
    for (int i = 0; i < description.count; i++) {
        const MenuRow& row = description.rows[i];
        AppendMenuW(menu, row.flags, row.id, row.label);
    }
    UINT chosen = (UINT)TrackPopupMenuEx(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, place->cursor.x,
                                         place->cursor.y, place->window, nullptr);
    DestroyMenu(menu);
    // The browser may have destroyed the instance while the menu was open:
    // its NPP is gone, and so is the page the user chose the command for.
    if (InstanceDestroyed(instance)) return;
    RunMenuCommand(instance, chosen);
}

}  // namespace

void EscapeMenuLabel(char* text) {
    char escaped[200];
    size_t used = 0;
    for (size_t i = 0; i < 50 && text[i] != 0; i++) {
        unsigned char c = (unsigned char)text[i];
        if (c == '&') {
            escaped[used++] = '&';
            escaped[used++] = '&';
        } else {
            escaped[used++] = c < 0x20 ? '_' : (char)c;
        }
    }
    escaped[used] = 0;
    memcpy(text, escaped, used + 1);
}

void FormatViewImageLabel(wchar_t* labelOut, const PluginInstance* instance) {
    char name[MenuLabelSize];
    FileNameFromUrl(name, InstanceUrl(instance));
    EscapeMenuLabel(name);
    wchar_t wideName[MenuLabelSize];
    AnsiToWide(wideName, MenuLabelSize, name);
    bool fullPage = instance->element.mode == NP_FULL;
    bool withName = name[0] != 0;
    for (const ViewLabelRule& rule : ViewLabelRules) {
        if (rule.fullPage == fullPage && rule.withName == withName) {
            FormatText(labelOut, MenuLabelSize, UiString(rule.format), wideName);
            return;
        }
    }
    labelOut[0] = 0;
}

void DescribeContextMenu(MenuDescription* menuOut, const PluginInstance* instance) {
    menuOut->count = 0;
    FormatViewImageLabel(menuOut->viewLabel, instance);
    for (const MenuItemRule& rule : MenuItemRules) {
        if (!rule.present(instance)) continue;
        MenuRow* row = &menuOut->rows[menuOut->count++];
        row->id = rule.id;
        if (rule.id == 0) {
            row->flags = MF_SEPARATOR;
            row->label = nullptr;
            continue;
        }
        row->flags = MF_STRING | (rule.greyed(instance) ? MF_GRAYED : 0) | (rule.checked(instance) ? MF_CHECKED : 0);
        row->label = rule.id == ID_VIEW_IMAGE ? menuOut->viewLabel : UiString(rule.text);
    }
}

void RunMenuCommand(PluginInstance* instance, UINT id) {
    for (const MenuCommand& command : MenuCommands) {
        if (command.id == id) {
            RunCommand(instance, RunCommandRow, (void*)&command);
            return;
        }
    }
}

void RunEnabledCommand(PluginInstance* instance, UINT id) {
    for (const MenuItemRule& rule : MenuItemRules) {
        if (rule.id == id && rule.present(instance) && !rule.greyed(instance)) {
            RunMenuCommand(instance, id);
            return;
        }
    }
}

void ShowContextMenu(PluginInstance* instance, HWND window) {
    POINT cursor = {0, 0};
    GetCursorPos(&cursor);
    ShowContextMenuAt(instance, window, cursor);
}

void ShowContextMenuAt(PluginInstance* instance, HWND window, POINT cursor) {
    MenuPlace place = {window, cursor};
    RunCommand(instance, TrackContextMenu, &place);
}
