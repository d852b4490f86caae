// Drives the modal loops of menus, dialogs and message boxes from a thread
// timer on the test's own thread, the way a user would answer them.
#ifndef TESTS_WIN_SUPPORT_UI_DRIVER_H
#define TESTS_WIN_SUPPORT_UI_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// One step of a script: called on every timer tick until it returns true.
typedef std::function<bool()> UiStep;

// Runs `modal` (which enters a modal loop) while the steps run one after the
// other from a 20 ms thread timer. Returns how many steps completed. A script
// that has not finished after `timeoutMs` cancels menus and closes the
// thread's dialogs so that the test fails instead of hanging.
int RunModal(const std::function<void()>& modal, const std::vector<UiStep>& steps, DWORD timeoutMs = 8000);

// Whether the user's language is Japanese (1041), read apart from the
// plug-in's own reading, and the text expected in it.
bool JapaneseUser();
const char* ExpectedText(const char* english, const char* japanese);
const wchar_t* ExpectedText(const wchar_t* english, const wchar_t* japanese);

// The text control of a message box.
enum { MessageBoxTextId = 0xFFFF };

// A visible top-level window of this thread with the class (e.g. "#32770"),
// when not null the exact caption, and when not 0 a control of that id.
HWND FindThreadWindow(const char* className, const char* caption, int control = 0);

std::string WindowText(HWND window);
// The text through the wide-character function, as a Unicode user sees it.
std::wstring WideText(HWND window);
std::string DialogItemText(HWND dialog, int id);

// Step: the plug-in's warning box is shown (caption "JPEG 2000 Plug-in");
// `inspect` looks at it, then it is answered with OK. The one message-box
// watcher of the tests.
UiStep InspectPluginMessage(const std::function<void(HWND box)>& inspect);

// Step: the warning box's text is appended to `texts`, then it is answered.
UiStep AnswerPluginMessage(std::vector<std::string>* texts);

// Step: the system's print dialog is open (Wine's, with its printer list);
// the printer named is chosen as a user picks it from the list (null: the
// one offered), then Print is pressed.
UiStep AnswerPrintDialog(const char* printer);

// One keyboard message posted to a menu's owner: WM_KEYDOWN with a VK_ code
// or WM_CHAR with a character.
struct KeyPress {
    UINT message;
    WPARAM code;
};

// Step: the popup menu is open; `inspect` gets its menu handle, then the
// keys are posted to `owner`, whose menu loop reads them.
UiStep UseOpenMenu(HWND owner, const std::function<void(HMENU)>& inspect, const std::vector<KeyPress>& keys);

// What the user saw in the plug-in's Save As dialog.
struct SaveDialogView {
    std::string suggestedName;
    std::vector<std::string> filters;
    int selectedFilter = -1;
};

// The caption of the plug-in's Save As dialog in the user's language.
const char* SaveDialogCaption();

// Step: the plug-in's Save As dialog is open; read it into `view`, pick the filter (1-based, 0 keeps the
// selection) the way the combo box reports a user's choice, type the path
// and press Save; an empty path cancels.
UiStep AnswerSaveDialog(SaveDialogView* view, int filterIndex, std::string path);

// The program's top-level window that owns menus and dialogs (made once).
HWND CreateOwnerWindow();

// `name` in the user's temporary folder.
std::string TempPath(const char* name);

// OpenClipboard, tried again for up to two seconds: Wine's clipboard manager
// opens the clipboard for a moment after each change to pass it on to X.
bool OpenClipboardPatiently(HWND owner = nullptr);

#endif
