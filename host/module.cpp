// What the library does when it is loaded: fix the user-interface language
// and load the cursors and icons every instance shares.
#include "host/host_internal.h"
#include "resource_ids.h"

HINSTANCE ModuleHandle = nullptr;
LANGID UiLanguage = 0;
HCURSOR LinkCursorMicrosoft = nullptr;
HCURSOR LinkCursorOther = nullptr;
HICON AboutIconFrames[4] = {};
HICON CommentsIcon = nullptr;
HCURSOR ZoomInCursor = nullptr;
HCURSOR ZoomOutCursor = nullptr;

static const wchar_t ModuleFileName[] = L"npkavrel.dll";

const UiText LoadFailureFormat = {
    "Cannot load resources. Make sure plug-in file is named %s",
    "リソースをロードできません。ファイル名が「%s」かどうか確認して下さい",
};

int IsJapaneseLanguage(LANGID language) {
    return language == JapaneseLanguageId ? 1 : 0;
}

// A failed single load leaves a null handle; users of each handle cope with
// null, so nothing is reported.
static void LoadSharedResources(HINSTANCE module) {
    LinkCursorOther = LoadCursorA(module, MAKEINTRESOURCEA(IDC_LINK_OTHER));
    LinkCursorMicrosoft = LoadCursorA(module, MAKEINTRESOURCEA(IDC_LINK_MICROSOFT));
    AboutIconFrames[0] = LoadIconA(module, MAKEINTRESOURCEA(IDI_ABOUT_FRAME_1));
    CommentsIcon = LoadIconA(module, MAKEINTRESOURCEA(IDI_COMMENTS));
    AboutIconFrames[1] = LoadIconA(module, MAKEINTRESOURCEA(IDI_ABOUT_FRAME_2));
    AboutIconFrames[2] = LoadIconA(module, MAKEINTRESOURCEA(IDI_ABOUT_FRAME_3));
    AboutIconFrames[3] = LoadIconA(module, MAKEINTRESOURCEA(IDI_ABOUT_FRAME_4));
    ZoomInCursor = LoadCursorA(module, MAKEINTRESOURCEA(IDC_ZOOM_IN));
    ZoomOutCursor = LoadCursorA(module, MAKEINTRESOURCEA(IDC_ZOOM_OUT));
}

void InitializeModule(HINSTANCE module) {
    ModuleHandle = module;
    UiLanguage = GetUserDefaultLangID();
    if (module == nullptr) {
        ShowPluginMessage(nullptr, UiString(LoadFailureFormat), ModuleFileName);
        return;
    }
    LoadSharedResources(module);
}
