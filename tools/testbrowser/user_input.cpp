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

enum InputKind { InputKey, InputWheel, InputClick, InputDrag };

struct Input {
    InputKind kind;
    int modifiers;
    UINT virtualKey;
    UINT wheelMessage;
    int wheelDelta;
    int hasPoint;
    POINT from;
    POINT to;
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

// Holds the modifiers in the thread's key state until it goes.
struct HeldModifiers {
    BYTE saved[256];
    HeldModifiers(int modifiers) {
        GetKeyboardState(saved);
        BYTE state[256];
        memcpy(state, saved, sizeof state);
        for (const ModifierName& modifier : ModifierNames) {
            state[modifier.virtualKey] = (modifiers & modifier.bit) ? 0x80 : 0;
        }
        SetKeyboardState(state);
    }
    ~HeldModifiers() { SetKeyboardState(saved); }
};

void SendKey(HWND window, const Input& input, int waitMs) {
    bool system = (input.modifiers & Alt) || input.virtualKey == VK_F10;
    UINT down = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
    LPARAM lParam = 1 | (LPARAM)MapVirtualKeyA(input.virtualKey, MAPVK_VK_TO_VSC) << 16 |
                    ((input.modifiers & Alt) ? 1 << 29 : 0);
    SetFocus(window);
    PostMessageA(window, down, input.virtualKey, lParam);
    WaitUntilQuiet(300, waitMs);
    PostMessageA(window, down + 1, input.virtualKey, lParam | (LPARAM)0xC0000000u);
    WaitUntilQuiet(300, waitMs);
}

WPARAM MouseKeys(int modifiers) {
    return ((modifiers & Control) ? MK_CONTROL : 0) | ((modifiers & Shift) ? MK_SHIFT : 0);
}

void SendWheel(HWND window, const Input& input, int waitMs) {
    POINT point = input.from;
    if (!input.hasPoint) {
        RECT client;
        GetClientRect(window, &client);
        point.x = client.right / 2;
        point.y = client.bottom / 2;
    }
    ClientToScreen(window, &point);
    WPARAM wParam = MAKEWPARAM(MouseKeys(input.modifiers), (WORD)(short)input.wheelDelta);
    PostMessageA(window, input.wheelMessage, wParam, MAKELPARAM(point.x, point.y));
    WaitUntilQuiet(300, waitMs);
}

// A press, the pointer's way in a few steps (none for a click), a release.
void SendButton(HWND window, const Input& input, int waitMs) {
    WPARAM keys = MouseKeys(input.modifiers);
    PostMessageA(window, WM_LBUTTONDOWN, keys | MK_LBUTTON, MAKELPARAM(input.from.x, input.from.y));
    const int steps = input.kind == InputDrag ? 4 : 0;
    for (int i = 1; i <= steps; ++i) {
        int x = input.from.x + (input.to.x - input.from.x) * i / steps;
        int y = input.from.y + (input.to.y - input.from.y) * i / steps;
        PostMessageA(window, WM_MOUSEMOVE, keys | MK_LBUTTON, MAKELPARAM(x, y));
        WaitUntilQuiet(100, waitMs);
    }
    PostMessageA(window, WM_LBUTTONUP, keys, MAKELPARAM(input.to.x, input.to.y));
    WaitUntilQuiet(300, waitMs);
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
    for (const Input& input : parsed) {
        HeldModifiers held(input.modifiers);
        switch (input.kind) {
        case InputKey: SendKey(instance->window, input, waitMs); break;
        case InputWheel: SendWheel(instance->window, input, waitMs); break;
        default: SendButton(instance->window, input, waitMs); break;
        }
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
