// Keys, wheel turns, clicks and drags sent by name to a plug-in's window as
// the system would deliver them, and key names for what reaches a frame.
// Modifiers are set in the thread's key state around each input, so the
// plug-in reads them as it would from a real keyboard.
#include "user_input.h"

#include <stdio.h>
#include <string.h>

#include <vector>

namespace {

struct KeyName {
    const char* name;
    UINT virtualKey;
};

const KeyName KeyNames[] = {
    {"plus", VK_OEM_PLUS}, {"minus", VK_OEM_MINUS}, {"left", VK_LEFT},  {"right", VK_RIGHT}, {"up", VK_UP},
    {"down", VK_DOWN},     {"pgup", VK_PRIOR},      {"pgdn", VK_NEXT},  {"home", VK_HOME},   {"end", VK_END},
    {"space", VK_SPACE},   {"tab", VK_TAB},         {"esc", VK_ESCAPE}, {"enter", VK_RETURN}, {"apps", VK_APPS},
    {"f1", VK_F1},         {"f2", VK_F2},           {"f3", VK_F3},      {"f4", VK_F4},       {"f5", VK_F5},
    {"f6", VK_F6},         {"f7", VK_F7},           {"f8", VK_F8},      {"f9", VK_F9},       {"f10", VK_F10},
    {"f11", VK_F11},       {"f12", VK_F12},
};

enum { Shift = 1, Control = 2, Alt = 4 };

struct ModifierName {
    const char* prefix;
    int bit;
    UINT virtualKey;
};
const ModifierName ModifierNames[] = {
    {"ctrl+", Control, VK_CONTROL},
    {"shift+", Shift, VK_SHIFT},
    {"alt+", Alt, VK_MENU},
};

enum InputKind { InputKey, InputWheel, InputClick, InputDrag, InputWait };

struct Input {
    InputKind kind;
    int modifiers;
    UINT virtualKey;
    UINT wheelMessage;
    int wheelDelta;
    int hasPoint;
    POINT from;
    POINT to;
    int waitMs;
};

UINT VirtualKeyOf(const std::string& name) {
    if (name.size() == 1 && (isdigit((unsigned char)name[0]) || islower((unsigned char)name[0]))) {
        return (UINT)toupper((unsigned char)name[0]);
    }
    for (const KeyName& key : KeyNames) {
        if (name == key.name) {
            return key.virtualKey;
        }
    }
    return 0;
}

struct WheelName {
    const char* name;
    UINT message;
    int delta;
};
const WheelName WheelNames[] = {
    {"wheel-up", WM_MOUSEWHEEL, WHEEL_DELTA},
    {"wheel-down", WM_MOUSEWHEEL, -WHEEL_DELTA},
    {"wheel-right", WM_MOUSEHWHEEL, WHEEL_DELTA},
    {"wheel-left", WM_MOUSEHWHEEL, -WHEEL_DELTA},
};

int ParsePoint(const char* text, POINT* point) {
    int x, y, used = 0;
    if (sscanf(text, "%d,%d%n", &x, &y, &used) != 2) {
        return 0;
    }
    point->x = x;
    point->y = y;
    return used;
}

int ParseInput(std::string word, Input* input) {
    *input = Input();
    for (bool more = true; more;) {
        more = false;
        for (const ModifierName& modifier : ModifierNames) {
            size_t length = strlen(modifier.prefix);
            if (word.compare(0, length, modifier.prefix) == 0 && word.size() > length) {
                input->modifiers |= modifier.bit;
                word = word.substr(length);
                more = true;
            }
        }
    }
    size_t at = word.find('@');
    std::string name = word.substr(0, at);
    const char* place = at == std::string::npos ? nullptr : word.c_str() + at + 1;
    if (name == "wait") {
        input->kind = InputWait;
        int used = 0;
        return place && sscanf(place, "%d%n", &input->waitMs, &used) == 1 && place[used] == 0 && input->waitMs >= 0;
    }
    if (name == "click" || name == "drag") {
        input->kind = name == "click" ? InputClick : InputDrag;
        int used = place ? ParsePoint(place, &input->from) : 0;
        if (!used) {
            return 0;
        }
        input->to = input->from;
        return name == "click" ? place[used] == 0 : place[used] == '-' && ParsePoint(place + used + 1, &input->to);
    }
    for (const WheelName& wheel : WheelNames) {
        if (name == wheel.name) {
            input->kind = InputWheel;
            input->wheelMessage = wheel.message;
            input->wheelDelta = wheel.delta;
            input->hasPoint = place != nullptr;
            return !place || ParsePoint(place, &input->from);
        }
    }
    input->kind = InputKey;
    input->virtualKey = VirtualKeyOf(name);
    return input->virtualKey != 0 && !place;
}

// One message of an input, posted once the page has settled after the one
// before, with the modifiers it needs held in the thread's key state. A key
// goes to where keys go now: an open dialog's focused control, else the
// element (a menu's loop reads keys from the thread's queue). A step without
// a message is a pause of wParam ms, whatever runs meanwhile.
struct Step {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    int modifiers;
    int isKey;
    int settleMs;
};

WPARAM MouseKeys(int modifiers) {
    return ((modifiers & Control) ? MK_CONTROL : 0) | ((modifiers & Shift) ? MK_SHIFT : 0);
}

void AddKeySteps(std::vector<Step>* steps, const Input& input) {
    bool system = (input.modifiers & Alt) || input.virtualKey == VK_F10;
    UINT down = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
    LPARAM lParam = 1 | (LPARAM)MapVirtualKeyA(input.virtualKey, MAPVK_VK_TO_VSC) << 16 |
                    ((input.modifiers & Alt) ? 1 << 29 : 0);
    steps->push_back(Step{down, input.virtualKey, lParam, input.modifiers, 1, 300});
    steps->push_back(Step{down + 1, input.virtualKey, lParam | (LPARAM)0xC0000000u, input.modifiers, 1, 300});
}

void AddWheelStep(std::vector<Step>* steps, HWND window, const Input& input) {
    POINT point = input.from;
    if (!input.hasPoint) {
        RECT client;
        GetClientRect(window, &client);
        point.x = client.right / 2;
        point.y = client.bottom / 2;
    }
    ClientToScreen(window, &point);
    WPARAM wParam = MAKEWPARAM(MouseKeys(input.modifiers), (WORD)(short)input.wheelDelta);
    steps->push_back(Step{input.wheelMessage, wParam, MAKELPARAM(point.x, point.y), input.modifiers, 0, 300});
}

// A press, the pointer's way in a few steps (none for a click), a release.
void AddButtonSteps(std::vector<Step>* steps, const Input& input) {
    WPARAM keys = MouseKeys(input.modifiers);
    steps->push_back(Step{WM_LBUTTONDOWN, keys | MK_LBUTTON, MAKELPARAM(input.from.x, input.from.y), input.modifiers, 0, 100});
    const int moves = input.kind == InputDrag ? 4 : 0;
    for (int i = 1; i <= moves; ++i) {
        int x = input.from.x + (input.to.x - input.from.x) * i / moves;
        int y = input.from.y + (input.to.y - input.from.y) * i / moves;
        steps->push_back(Step{WM_MOUSEMOVE, keys | MK_LBUTTON, MAKELPARAM(x, y), input.modifiers, 0, 100});
    }
    steps->push_back(Step{WM_LBUTTONUP, keys, MAKELPARAM(input.to.x, input.to.y), input.modifiers, 0, 300});
}

int IsDialog(HWND window) {
    char name[16] = "";
    return window && GetClassNameA(window, name, sizeof name) && strcmp(name, "#32770") == 0;
}

BOOL CALLBACK NoteEnabledDialog(HWND window, LPARAM found) {
    if (IsDialog(window) && IsWindowVisible(window) && IsWindowEnabled(window)) {
        *(HWND*)found = window;
    }
    return TRUE;
}

// The dialog a plug-in opened on this thread, the one taking input (a
// dialog that opened another is disabled). Activation is not asked: without
// a window manager another program's new window can take it, and a key
// sent to the element under a modal dialog would be lost.
HWND OpenDialog() {
    HWND active = GetActiveWindow();
    if (IsDialog(active)) {
        return active;
    }
    HWND found = NULL;
    EnumThreadWindows(GetCurrentThreadId(), NoteEnabledDialog, (LPARAM)&found);
    return found;
}

HWND KeyTarget(HWND element) {
    HWND dialog = OpenDialog();
    if (dialog) {
        HWND focus = GetFocus();
        return focus && (focus == dialog || IsChild(dialog, focus)) ? focus : dialog;
    }
    return element;
}

void HoldModifiers(int modifiers) {
    BYTE state[256];
    GetKeyboardState(state);
    for (const ModifierName& modifier : ModifierNames) {
        state[modifier.virtualKey] = (modifiers & modifier.bit) ? 0x80 : 0;
    }
    SetKeyboardState(state);
}

// The steps are driven from a thread timer, so that they go on inside any
// menu or dialog an input opens (their loops serve the timer too).
struct Sending {
    HWND element;
    std::vector<Step> steps;
    size_t next;
    DWORD quietSince;
    double cpu;
    DWORD began;
    int waitMs;
    int settled;
    DWORD pauseEnd;
};

// Past the time allowed, a menu or dialog still open is closed, so that a
// lost key ends the run with an error instead of waiting forever.
void CloseWhatIsOpen() {
    EndMenu();
    HWND dialog = OpenDialog();
    if (dialog) {
        PostMessageA(dialog, WM_CLOSE, 0, 0);
    }
}
Sending* Active = nullptr;

void CALLBACK SendNextStep(HWND, UINT, UINT_PTR, DWORD now) {
    Sending* sending = Active;
    if (!sending) {
        return;
    }
    if ((int)(now - sending->began) > sending->waitMs) {
        CloseWhatIsOpen();
        return;
    }
    if ((int)(sending->pauseEnd - now) > 0) {
        sending->quietSince = now;
        return;
    }
    double cpu = ProcessCpuSeconds();
    bool busy = cpu - sending->cpu > 0.010 || HIWORD(GetQueueStatus(QS_ALLINPUT & ~QS_TIMER)) != 0;
    sending->cpu = cpu;
    if (busy) {
        sending->quietSince = now;
        return;
    }
    if (sending->next > 0 && (int)(now - sending->quietSince) < sending->steps[sending->next - 1].settleMs) {
        return;
    }
    if (sending->next >= sending->steps.size()) {
        sending->settled = 1;
        return;
    }
    const Step& step = sending->steps[sending->next++];
    if (step.message == 0) {
        sending->pauseEnd = now + (DWORD)step.wParam;
        return;
    }
    HoldModifiers(step.modifiers);
    // A key goes down on the element, which has the focus; it comes up where
    // the focus is then (a key may have moved it on).
    HWND target = step.isKey ? KeyTarget(sending->element) : sending->element;
    bool down = step.message == WM_KEYDOWN || step.message == WM_SYSKEYDOWN;
    if (step.isKey && target == sending->element && down) {
        SetFocus(target);
    } else if (step.isKey && target == sending->element && GetFocus()) {
        target = GetFocus();
    }
    PostMessageA(target, step.message, step.wParam, step.lParam);
    sending->quietSince = now;
}

}  // namespace

int SendUserInput(PageInstance* instance, const std::string& inputs, int waitMs) {
    std::vector<Input> parsed;
    size_t start = 0;
    while (start < inputs.size()) {
        size_t end = inputs.find(' ', start);
        std::string word = inputs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? inputs.size() : end + 1;
        if (word.empty()) {
            continue;
        }
        Input input;
        if (!ParseInput(word, &input)) {
            fprintf(stderr, "unknown input: %s\n", word.c_str());
            return 0;
        }
        parsed.push_back(input);
    }
    Sending sending = {instance->window, {}, 0, GetTickCount(), ProcessCpuSeconds(), GetTickCount(), waitMs, 0, 0};
    for (const Input& input : parsed) {
        switch (input.kind) {
        case InputKey: AddKeySteps(&sending.steps, input); break;
        case InputWheel: AddWheelStep(&sending.steps, instance->window, input); break;
        case InputWait: sending.steps.push_back(Step{0, (WPARAM)input.waitMs, 0, 0, 0, 0}); break;
        default: AddButtonSteps(&sending.steps, input); break;
        }
    }
    BYTE saved[256];
    GetKeyboardState(saved);
    Active = &sending;
    UINT_PTR timer = SetTimer(NULL, 0, 20, SendNextStep);
    // A little past the time allowed, for what is open to close.
    while (!sending.settled && (int)(GetTickCount() - sending.began) < waitMs + 1000) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            DispatchAsBrowser(&message);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    KillTimer(NULL, timer);
    Active = nullptr;
    SetKeyboardState(saved);
    if (!sending.settled) {
        fprintf(stderr, "inputs not all sent and settled within %d ms\n", waitMs);
        return 0;
    }
    return 1;
}

std::string NameKeyMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    UINT virtualKey = (UINT)wParam;
    std::string base;
    if ((virtualKey >= '0' && virtualKey <= '9') || (virtualKey >= 'A' && virtualKey <= 'Z')) {
        base = std::string(1, (char)tolower((int)virtualKey));
    }
    for (const KeyName& key : KeyNames) {
        if (key.virtualKey == virtualKey) {
            base = key.name;
        }
    }
    if (base.empty()) {
        return base;
    }
    bool altContext = (message == WM_SYSKEYDOWN || message == WM_SYSKEYUP) && (lParam & (1 << 29));
    std::string name;
    for (const ModifierName& modifier : ModifierNames) {
        bool held = (GetKeyState((int)modifier.virtualKey) & 0x8000) || (modifier.bit == Alt && altContext);
        name += held ? modifier.prefix : "";
    }
    return name + base;
}
