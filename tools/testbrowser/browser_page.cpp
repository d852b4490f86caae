// Frames, layout, streaming from disk, navigation, screenshots and printing
// of the test browser.
#include "browser_page.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "plugin_children.h"
#include "user_input.h"

namespace {

const char FrameClass[] = "NpapiTestBrowserFrame";
const char PluginClass[] = "NpapiTestBrowserPlugin";
const UINT NavigateMessage = WM_APP + 1;
const UINT OpenBlankMessage = WM_APP + 2;
const UINT OpenStreamMessage = WM_APP + 3;
const UINT DeliverMessage = WM_APP + 4;
const char HostProperty[] = "NpapiTestBrowserHost";
const int Margin = 8;
// UXP delivery: a tick per posted message (a pause asked for by the plug-in
// is retried from a timer), the in-process listener's first buffer, the
// largest block one message carries to a plug-in process.
const UINT DeliveryRetryMs = 100;
const int32_t FirstBufferSize = 16384;
const int32_t OutOfProcessChunk = 65535;

std::vector<BrowserFrame*> Frames;
int StreamsPending = 0;
Browser* IdleBrowser = NULL;
UINT_PTR IdleTimer = 0;

struct MimeRow {
    const char* extension;
    const char* type;
};

// The registration's extensions and types, so the browser picks the plug-in
// by file name as a real one does.
const MimeRow MimeTypes[] = {
    {"jp2", "image/jp2"},    {"jpx", "image/jpx"},          {"mj2", "video/mj2"},  {"jpm", "image/jpm"},
    {"j3d", "image/x-j3d"},  {"j2k", "image/x-jpeg2000"},   {"jpc", "image/x-jpc"}, {"j2c", "image/x-j2c"},
    {"mjc", "video/x-mjc"},  {"jph", "image/jph"},          {"jhc", "image/jphc"},
};

std::string MimeTypeOf(const std::string& path) {
    size_t dot = path.rfind('.');
    std::string extension = dot == std::string::npos ? "" : path.substr(dot + 1);
    for (char& c : extension) {
        c = (char)tolower((unsigned char)c);
    }
    for (const MimeRow& row : MimeTypes) {
        if (extension == row.extension) {
            return row.type;
        }
    }
    return "image/jp2";
}

void PumpMessages();

void ServeMessagesFor(int milliseconds) {
    DWORD start = GetTickCount();
    while ((int)(GetTickCount() - start) < milliseconds) {
        PumpMessages();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    PumpMessages();
}

std::string FileUrl(const std::string& path) {
    std::string url = "file:///";
    for (char c : path) {
        url += c == '\\' ? '/' : c;
    }
    return url;
}

std::vector<int32_t> BlockOrder(int32_t count, int order) {
    std::vector<int32_t> blocks;
    for (int32_t i = 0; i < count; ++i) {
        blocks.push_back(i);
    }
    if (order == StreamReversed) {
        std::reverse(blocks.begin(), blocks.end());
    } else if (order == StreamPairsSwapped) {
        for (int32_t i = 0; i + 1 < count; i += 2) {
            std::swap(blocks[i], blocks[i + 1]);
        }
    }
    return blocks;
}

// Writes one block, as much as NPP_WriteReady allows at a time; 0 when the
// plug-in refused bytes (then the stream ends with a network error).
int WriteBlock(Browser* browser, PageInstance* instance, NPStream* stream, const std::string& bytes, int32_t offset,
               int32_t length) {
    while (length > 0) {
        int32_t ready = browser->pluginFuncs.writeready(&instance->npp, stream);
        int32_t now = std::min<int32_t>(length, ready > 0 ? ready : 1);
        int32_t written = browser->pluginFuncs.write(&instance->npp, stream, offset, now, (void*)(bytes.data() + offset));
        if (written <= 0) {
            return 0;
        }
        instance->bytesDelivered += written;
        offset += written;
        length -= written;
    }
    return 1;
}

int LoadStreamSource(PageInstance* instance) {
    PageStream* source = &instance->stream;
    if (!ReadWholeFile(instance->path, &source->bytes)) {
        printf("cannot read %s\n", instance->path.c_str());
        fflush(stdout);
        return 0;
    }
    source->url = FileUrl(instance->path);
    source->mime = MimeTypeOf(instance->path);
    source->stream = NPStream();
    source->stream.ndata = instance->frame->browser;
    source->stream.url = source->url.c_str();
    source->stream.end = instance->frame->streamOptions.announceLength ? (uint32_t)source->bytes.size() : 0;
    return 1;
}

NPError CallNewStream(PageInstance* instance) {
    Browser* browser = instance->frame->browser;
    PluginCall call(browser, "NPP_NewStream");
    uint16_t type = NP_NORMAL;
    instance->stream.newResult = browser->pluginFuncs.newstream(
        &instance->npp, (char*)instance->stream.mime.c_str(), &instance->stream.stream, 0, &type);
    return instance->stream.newResult;
}

void CallDestroyStream(PageInstance* instance, NPReason reason) {
    Browser* browser = instance->frame->browser;
    PluginCall call(browser, "NPP_DestroyStream");
    instance->stream.endReason = reason;
    browser->pluginFuncs.destroystream(&instance->npp, &instance->stream.stream, reason);
}

// Plain mode: the whole file at once, right after NPP_SetWindow.
void StreamFile(PageInstance* instance) {
    Browser* browser = instance->frame->browser;
    const StreamOptions& options = instance->frame->streamOptions;
    if (!LoadStreamSource(instance) || CallNewStream(instance) != NPERR_NO_ERROR) {
        return;
    }
    const std::string& bytes = instance->stream.bytes;
    int32_t blockSize = options.blockSize > 0 ? options.blockSize : 65536;
    int32_t count = (int32_t)((bytes.size() + blockSize - 1) / blockSize);
    NPReason reason = options.endReason;
    int32_t written = 0;
    for (int32_t block : BlockOrder(count, options.order)) {
        int32_t offset = block * blockSize;
        int32_t length = std::min<int32_t>(blockSize, (int32_t)bytes.size() - offset);
        {
            PluginCall call(browser, "NPP_Write");
            if (!WriteBlock(browser, instance, &instance->stream.stream, bytes, offset, length)) {
                reason = NPRES_NETWORK_ERR;
                break;
            }
        }
        if (options.blockDelayMs > 0) {
            ServeMessagesFor(options.blockDelayMs);
        }
        ++written;
        if (options.halfwayScreenshot && written == count / 2) {
            SaveFrameScreenshot(instance->frame, options.halfwayScreenshot);
        }
        for (int quarter = 1; options.quarterScreenshots && quarter <= 3; ++quarter) {
            if (written == count * quarter / 4) {
                std::string path = options.quarterScreenshots;
                path.insert(path.size() > 4 ? path.size() - 4 : path.size(), "-" + std::to_string(quarter));
                SaveFrameScreenshot(instance->frame, path);
            }
        }
    }
    CallDestroyStream(instance, reason);
}

void SetStreamState(PageInstance* instance, int state) {
    int wasPending = instance->stream.state == StreamScheduled || instance->stream.state == StreamOpen;
    int pending = state == StreamScheduled || state == StreamOpen;
    StreamsPending += pending - wasPending;
    instance->stream.state = state;
}

// UXP: the stream is opened later from the event loop, as the document
// loader does once the instance exists.
void ScheduleStream(PageInstance* instance) {
    SetStreamState(instance, StreamScheduled);
    PostMessageA(instance->frame->window, OpenStreamMessage, 0, (LPARAM)instance);
}

void EndStream(PageInstance* instance, NPReason reason) {
    KillTimer(instance->frame->window, (UINT_PTR)instance);
    SetStreamState(instance, StreamEnded);
    CallDestroyStream(instance, reason);
}

// A refused stream is never offered again.
void OpenLateStream(PageInstance* instance) {
    if (!LoadStreamSource(instance) || CallNewStream(instance) != NPERR_NO_ERROR) {
        SetStreamState(instance, StreamEnded);
        return;
    }
    SetStreamState(instance, StreamOpen);
    instance->stream.arrived = 0;
    instance->stream.bufferSize = FirstBufferSize;
    PostMessageA(instance->frame->window, DeliverMessage, 0, (LPARAM)instance);
}

// What the network hands over this tick; in process the listener's buffer
// starts at 16 KiB and then holds whatever arrives.
void ReceiveFromNetwork(PageInstance* instance) {
    PageStream* source = &instance->stream;
    int32_t total = (int32_t)source->bytes.size();
    int32_t piece = instance->frame->streamOptions.blockSize > 0 ? instance->frame->streamOptions.blockSize : 65536;
    if (instance->frame->browser->host == HostUxpInProcess) {
        piece = std::min(piece, source->bufferSize);
        source->bufferSize = INT32_MAX;
    }
    source->arrived += std::min(piece, total - source->arrived);
    if (!instance->frame->streamOptions.announceLength) {
        source->stream.end = (uint32_t)source->arrived;
    }
}

// One timer tick of UXP delivery. Out of process a block is the whole
// message (up to 65,535 bytes) whatever NPP_WriteReady said; in process it
// is the smaller of NPP_WriteReady and what is buffered. WriteReady 0 or a
// write of 0 pauses for 100 ms; a negative write breaks the stream.
void DeliverTick(PageInstance* instance) {
    Browser* browser = instance->frame->browser;
    PageStream* source = &instance->stream;
    ReceiveFromNetwork(instance);
    while (instance->bytesDelivered < source->arrived) {
        int32_t buffered = source->arrived - instance->bytesDelivered;
        int32_t ready, written, length;
        {
            PluginCall call(browser, "NPP_WriteReady");
            ready = browser->pluginFuncs.writeready(&instance->npp, &source->stream);
        }
        if (ready <= 0) {
            SetTimer(instance->frame->window, (UINT_PTR)instance, DeliveryRetryMs, NULL);
            return;
        }
        length = browser->host == HostUxpOutOfProcess ? std::min(buffered, OutOfProcessChunk) : std::min(buffered, ready);
        {
            PluginCall call(browser, "NPP_Write");
            written = browser->pluginFuncs.write(&instance->npp, &source->stream, instance->bytesDelivered, length,
                                                 (void*)(source->bytes.data() + instance->bytesDelivered));
        }
        if (written < 0) {
            EndStream(instance, NPRES_NETWORK_ERR);
            return;
        }
        if (written == 0) {
            SetTimer(instance->frame->window, (UINT_PTR)instance, DeliveryRetryMs, NULL);
            return;
        }
        instance->bytesDelivered += std::min(written, length);
    }
    if (instance->bytesDelivered >= (int32_t)source->bytes.size()) {
        EndStream(instance, instance->frame->streamOptions.endReason);
    } else {
        PostMessageA(instance->frame->window, DeliverMessage, 0, (LPARAM)instance);
    }
}

// UXP modes: after every NPP_SetWindow the host puts its own procedure on
// top of whatever the plug-in installed, once.
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void SubclassForHost(PageInstance* instance) {
    if (GetWindowLongPtrA(instance->window, GWLP_WNDPROC) == (LONG_PTR)(void*)&HostWindowProc) {
        return;
    }
    SetPropA(instance->window, HostProperty, instance);
    instance->hostNext =
        (WNDPROC)SetWindowLongPtrA(instance->window, GWLP_WNDPROC, (LONG_PTR)(void*)&HostWindowProc);
}

// The host puts back what it saved only while its procedure is on top;
// finding it gone means someone wrote over it.
void UndoHostSubclass(PageInstance* instance) {
    if (!instance->hostNext) {
        return;
    }
    if (HostSubclassOnTop(instance)) {
        SetWindowLongPtrA(instance->window, GWLP_WNDPROC, (LONG_PTR)(void*)instance->hostNext);
    } else {
        instance->frame->browser->hostSubclassLost++;
        printf("host subclass no longer on top of the plug-in window\n");
        fflush(stdout);
    }
    RemovePropA(instance->window, HostProperty);
    instance->hostNext = NULL;
}

// In process the host lets the plug-in open windows while it passes a
// button release or a key (not a repeat) to it.
int IsUserEvent(UINT message, LPARAM lParam) {
    return message == WM_LBUTTONUP || message == WM_KEYUP || message == WM_CHAR ||
           (message == WM_KEYDOWN && (lParam & 0x40000000) == 0);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PageInstance* instance = (PageInstance*)GetPropA(window, HostProperty);
    if (!instance || !instance->hostNext) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    Browser* browser = instance->frame->browser;
    int userEvent = browser->host == HostUxpInProcess && IsUserEvent(message, lParam);
    browser->userEventDepth += userEvent;
    LRESULT result = CallWindowProcA(instance->hostNext, window, message, wParam, lParam);
    browser->userEventDepth -= userEvent;
    return result;
}

void CallSetWindow(PageInstance* instance) {
    Browser* browser = instance->frame->browser;
    {
        PluginCall call(browser, "NPP_SetWindow");
        browser->pluginFuncs.setwindow(&instance->npp, &instance->npWindow);
    }
    instance->setWindowCalls++;
    if (browser->host != HostPlain) {
        SubclassForHost(instance);
    }
}

void PlaceNpWindow(PageInstance* instance, RECT place, int clipped) {
    instance->npWindow.window = instance->window;
    instance->npWindow.x = place.left;
    instance->npWindow.y = place.top;
    instance->npWindow.width = (uint32_t)(place.right - place.left);
    instance->npWindow.height = (uint32_t)(place.bottom - place.top);
    instance->npWindow.clipRect = NPRect();
    if (!clipped) {
        instance->npWindow.clipRect.right = (uint16_t)instance->npWindow.width;
        instance->npWindow.clipRect.bottom = (uint16_t)instance->npWindow.height;
    }
    instance->npWindow.type = NPWindowTypeWindow;
}

// Out of process the plug-in's own thread made its window; the browser's
// side restyles it, adopts it into the page, places and shows it.
struct AdoptionJob {
    HWND window;
    HWND parent;
    RECT place;
};

DWORD WINAPI AdoptPluginWindow(void* parameter) {
    AdoptionJob* job = (AdoptionJob*)parameter;
    LONG_PTR style = GetWindowLongPtrA(job->window, GWL_STYLE);
    SetWindowLongPtrA(job->window, GWL_STYLE, (style & ~(LONG_PTR)WS_POPUP) | WS_CHILD | WS_CLIPSIBLINGS);
    SetParent(job->window, job->parent);
    SetWindowPos(job->window, NULL, job->place.left, job->place.top, job->place.right - job->place.left,
                 job->place.bottom - job->place.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
    return 0;
}

// Serves only the messages the other thread sends until it is done, so no
// posted work of the page runs in between.
void RunOnBrowserSide(AdoptionJob* job) {
    HANDLE thread = CreateThread(NULL, 0, AdoptPluginWindow, job, 0, NULL);
    if (!thread) {
        AdoptPluginWindow(job);
        return;
    }
    MSG message;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread);
}

// The argument arrays as the host builds them. Plain: the attributes as
// written. UXP: names lower-cased; an <object>'s data doubles as "SRC";
// "PARAM" with a null value before the <param> pairs; a full page passes
// name, width, height, src and type; out of process the arrays end in null.
void BuildArguments(PageInstance* instance, uint16_t mode, const std::string& mime) {
    Browser* browser = instance->frame->browser;
    const EmbedElement& element = instance->element;
    AttributeList pairs;
    size_t nullValue = (size_t)-1;
    if (browser->host == HostPlain) {
        pairs = element.attributes;
        pairs.insert(pairs.end(), element.params.begin(), element.params.end());
    } else if (mode == NP_FULL) {
        pairs = {{"name", "plugin"}, {"width", "100%"}, {"height", "100%"}, {"src", FileUrl(instance->path)},
                 {"type", mime}};
    } else {
        int hasSrc = 0;
        for (const auto& attribute : element.attributes) {
            std::string name = attribute.first;
            for (char& c : name) c = (char)tolower((unsigned char)c);
            hasSrc |= name == "src";
            pairs.push_back({name, attribute.second});
        }
        if (element.isObject && !hasSrc && !element.src.empty()) {
            pairs.push_back({"SRC", element.src});
        }
        if (!element.params.empty()) {
            nullValue = pairs.size();
            pairs.push_back({"PARAM", ""});
            pairs.insert(pairs.end(), element.params.begin(), element.params.end());
        }
    }
    instance->argTexts.clear();
    for (const auto& pair : pairs) {
        instance->argTexts.push_back(pair.first);
        instance->argTexts.push_back(pair.second);
    }
    for (size_t i = 0; i < pairs.size(); ++i) {
        instance->argn.push_back((char*)instance->argTexts[2 * i].c_str());
        instance->argv.push_back(i == nullValue ? NULL : (char*)instance->argTexts[2 * i + 1].c_str());
    }
    if (browser->host == HostUxpOutOfProcess) {
        instance->argn.push_back(NULL);
        instance->argv.push_back(NULL);
    }
}

// Out of process: a new instance cancels the idle shutdown, and one after
// it starts the plug-in afresh, as a new plug-in process would.
void WakePlugin(Browser* browser) {
    if (browser->host != HostUxpOutOfProcess) {
        return;
    }
    if (IdleTimer) {
        KillTimer(NULL, IdleTimer);
        IdleTimer = 0;
    }
    if (!browser->initialized && browser->module) {
        StartPlugin(browser);
    }
}

void CALLBACK ShutdownIdlePlugin(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(NULL, timer);
    IdleTimer = 0;
    Browser* browser = IdleBrowser;
    if (!browser || !browser->initialized) {
        return;
    }
    {
        PluginCall call(browser, "NP_Shutdown");
        browser->shutdownResult = browser->shutdown();
    }
    browser->initialized = 0;
    browser->idleShutdowns++;
    printf("NP_Shutdown after idling: %d\n", browser->shutdownResult);
    fflush(stdout);
}

int LiveInstances() {
    int count = 0;
    for (BrowserFrame* frame : Frames) {
        count += (int)frame->instances.size();
    }
    return count;
}

void ArmIdleShutdown(Browser* browser) {
    if (browser->host != HostUxpOutOfProcess || LiveInstances() > 0 || IdleTimer) {
        return;
    }
    IdleBrowser = browser;
    IdleTimer = SetTimer(NULL, 0, (UINT)browser->idleShutdownMs, ShutdownIdlePlugin);
}

// The window the instance gets, by host: plain and out of process with the
// place it will have (out of process, a 0x0 popup of the plug-in's thread
// first); in process a hidden, disabled 0x0 widget.
HWND CreatePluginWindow(BrowserFrame* frame, RECT place) {
    switch (frame->browser->host) {
    case HostUxpInProcess:
        return CreateWindowExA(0, PluginClass, "", WS_CHILD | WS_DISABLED | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                               frame->window, NULL, GetModuleHandleA(NULL), NULL);
    case HostUxpOutOfProcess:
        return CreateWindowExA(0, PluginClass, "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    default:
        return CreateWindowExA(0, PluginClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, place.left, place.top,
                               place.right - place.left, place.bottom - place.top, frame->window, NULL,
                               GetModuleHandleA(NULL), NULL);
    }
}

// The NPP_SetWindow series of each host, then the stream.
void ShowInstance(PageInstance* instance, RECT place) {
    Browser* browser = instance->frame->browser;
    if (browser->host == HostUxpInProcess) {
        PlaceNpWindow(instance, RECT{0, 0, 0, 0}, 0);
        CallSetWindow(instance);
        CallSetWindow(instance);  // the "redundant" repeat
        EnableWindow(instance->window, TRUE);
        SetWindowPos(instance->window, NULL, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    } else if (browser->host == HostUxpOutOfProcess) {
        AdoptionJob job = {instance->window, instance->frame->window, place};
        RunOnBrowserSide(&job);
    }
    PlaceNpWindow(instance, place, 0);
    CallSetWindow(instance);
    if (browser->host == HostPlain) {
        StreamFile(instance);
    } else {
        SetStreamState(instance, StreamHeld);
        if (!instance->frame->streamOptions.held) {
            ScheduleStream(instance);
        }
    }
}

PageInstance* CreateInstance(BrowserFrame* frame, const EmbedElement& element, const std::string& path, uint16_t mode,
                             RECT place) {
    Browser* browser = frame->browser;
    WakePlugin(browser);
    PageInstance* instance = new PageInstance();
    instance->frame = frame;
    instance->element = element;
    instance->path = path;
    instance->npp.ndata = browser;
    instance->window = CreatePluginWindow(frame, place);
    std::string mime = MimeTypeOf(path);
    BuildArguments(instance, mode, mime);
    int16_t argc = (int16_t)(instance->argn.size() - (browser->host == HostUxpOutOfProcess ? 1 : 0));
    {
        PluginCall call(browser, "NPP_New");
        instance->newResult = browser->pluginFuncs.newp((char*)mime.c_str(), &instance->npp, mode, argc,
                                                        instance->argn.data(), instance->argv.data(), NULL);
    }
    frame->instances.push_back(instance);
    if (instance->newResult == NPERR_NO_ERROR) {
        ShowInstance(instance, place);
    }
    return instance;
}

void DestroyInstances(BrowserFrame* frame) {
    std::vector<PageInstance*> instances;
    instances.swap(frame->instances);
    for (PageInstance* instance : instances) {
        DestroyInstance(instance);
        DestroyWindow(instance->window);
        delete instance;
    }
    ArmIdleShutdown(frame->browser);
}

PageInstance* FindInstance(BrowserFrame* frame, LPARAM pointer) {
    for (PageInstance* instance : frame->instances) {
        if ((LPARAM)instance == pointer) {
            return instance;
        }
    }
    return NULL;
}

// Embeds flow left to right and wrap at the client width.
std::vector<RECT> LayOutEmbeds(const std::vector<EmbedElement>& elements, int clientWidth) {
    std::vector<RECT> places;
    int x = Margin, y = Margin, rowHeight = 0;
    for (const EmbedElement& element : elements) {
        if (x > Margin && x + element.width > clientWidth - Margin) {
            x = Margin;
            y += rowHeight + Margin;
            rowHeight = 0;
        }
        places.push_back(RECT{x, y, x + element.width, y + element.height});
        x += element.width + Margin;
        rowHeight = std::max(rowHeight, element.height);
    }
    return places;
}

void LoadDocument(BrowserFrame* frame, const std::string& document) {
    std::string path = ResolveLocalPath(document, "");
    frame->documentPath = path;
    SetWindowTextA(frame->window, path.c_str());
    RECT client;
    GetClientRect(frame->window, &client);
    if (!IsHtmlPath(path)) {
        frame->fullPage = 1;
        CreateInstance(frame, EmbedElement{AttributeList(), path, client.right, client.bottom, 0, AttributeList()}, path, NP_FULL, client);
        return;
    }
    frame->fullPage = 0;
    std::string html;
    if (!ReadWholeFile(path, &html)) {
        printf("cannot read %s\n", path.c_str());
        fflush(stdout);
    }
    std::vector<EmbedElement> elements = ParseEmbedElements(html);
    std::vector<RECT> places = LayOutEmbeds(elements, client.right);
    for (size_t i = 0; i < elements.size(); ++i) {
        CreateInstance(frame, elements[i], ResolveLocalPath(elements[i].src, path), NP_EMBED, places[i]);
    }
}

BrowserFrame* FrameOfWindow(HWND window) {
    for (BrowserFrame* frame : Frames) {
        if (frame->window == window) {
            return frame;
        }
    }
    return NULL;
}

void RemoveFrame(BrowserFrame* frame) {
    Frames.erase(std::remove(Frames.begin(), Frames.end(), frame), Frames.end());
    delete frame;
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    BrowserFrame* frame = FrameOfWindow(window);
    if (frame && message == NavigateMessage) {
        std::string* document = (std::string*)lParam;
        NavigateFrame(frame, *document);
        delete document;
        return 0;
    }
    if (frame && message == OpenBlankMessage) {
        std::string* document = (std::string*)lParam;
        RECT client;
        GetClientRect(window, &client);
        OpenFrame(frame->browser, *document, client.right, client.bottom, frame->streamOptions);
        delete document;
        return 0;
    }
    if (frame && message == OpenStreamMessage) {
        PageInstance* instance = FindInstance(frame, lParam);
        if (instance && instance->stream.state == StreamScheduled) {
            OpenLateStream(instance);
        }
        return 0;
    }
    if (frame && (message == WM_TIMER || message == DeliverMessage)) {
        PageInstance* instance = FindInstance(frame, message == WM_TIMER ? (LPARAM)wParam : lParam);
        if (message == WM_TIMER) {
            KillTimer(window, wParam);
        }
        if (instance && instance->stream.state == StreamOpen) {
            DeliverTick(instance);
        }
        return 0;
    }
    if (frame && message == WM_SIZE && frame->fullPage && !frame->instances.empty()) {
        PageInstance* instance = frame->instances[0];
        MoveWindow(instance->window, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        instance->npWindow.width = LOWORD(lParam);
        instance->npWindow.height = HIWORD(lParam);
        instance->npWindow.clipRect.right = LOWORD(lParam);
        instance->npWindow.clipRect.bottom = HIWORD(lParam);
        if (instance->newResult == NPERR_NO_ERROR && !instance->destroyed) {
            CallSetWindow(instance);
        }
        return 0;
    }
    if (frame && (message == WM_KEYDOWN || message == WM_SYSKEYDOWN)) {
        std::string name = NameKeyMessage(message, wParam, lParam);
        if (name.empty()) {
            char code[16];
            snprintf(code, sizeof code, "vk%02X", (unsigned)wParam);
            name = code;
        }
        frame->browserKeys.push_back(name);
        frame->focusedAtKey.push_back(GetFocus() == window);
        printf("browser key: %s\n", name.c_str());
        fflush(stdout);
        return 0;
    }
    if (frame && message == WM_CLOSE) {
        CloseFrame(frame);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterClasses() {
    static int registered = 0;
    if (registered) {
        return;
    }
    registered = 1;
    WNDCLASSA frameClass = {};
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = GetModuleHandleA(NULL);
    frameClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    frameClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    frameClass.lpszClassName = FrameClass;
    RegisterClassA(&frameClass);
    WNDCLASSA pluginClass = frameClass;
    pluginClass.lpfnWndProc = DefWindowProcA;
    pluginClass.lpszClassName = PluginClass;
    RegisterClassA(&pluginClass);
}

// The plug-in's own processes count: a decode there is work the page waits for.
double CpuSecondsOfProcess() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 1e7 + ChildrenCpuSeconds() - WatchingCpuSeconds();
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        DispatchAsBrowser(&message);
    }
}

// The message the browser's own loop dispatches now (null outside any): a
// thread timer finding its own message there runs from the browser's loop,
// else from a loop further in, a plug-in's.
const MSG* BrowserDispatching = NULL;

struct DestroyPlan {
    Browser* browser;
    UINT_PTR timer;
    int fired;
};
DestroyPlan PlannedDestroy = {};

void CALLBACK DestroyEveryInstance(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(NULL, timer);
    PlannedDestroy.fired = 1;
    const MSG* outer = BrowserDispatching;
    int fromBrowser = outer == NULL || (outer->message == WM_TIMER && outer->wParam == timer);
    const char* call = PlannedDestroy.browser->callDepth > 0 ? PlannedDestroy.browser->callName : NULL;
    int count = 0;
    for (BrowserFrame* frame : Frames) {
        for (PageInstance* instance : frame->instances) {
            count += !instance->destroyed;
            DestroyInstance(instance);
        }
    }
    printf("destroyed %d instance(s) %s%s\n", count,
           call ? "inside " : (fromBrowser ? "from the browser's loop" : "inside a plug-in's message loop"),
           call ? call : "");
    fflush(stdout);
}

int WriteBmp(const std::string& path, int width, int height, const std::vector<uint8_t>& rows) {
    int stride = (width * 3 + 3) & ~3;
    uint32_t imageSize = (uint32_t)stride * (uint32_t)height;
    BITMAPFILEHEADER fileHeader = {};
    fileHeader.bfType = 0x4D42;
    fileHeader.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    fileHeader.bfSize = fileHeader.bfOffBits + imageSize;
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = imageSize;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) {
        return 0;
    }
    int ok = fwrite(&fileHeader, sizeof fileHeader, 1, file) == 1 && fwrite(&info, sizeof info, 1, file) == 1 &&
             fwrite(rows.data(), imageSize, 1, file) == 1;
    return (fclose(file) == 0) && ok;
}

}  // namespace

double ProcessCpuSeconds() { return CpuSecondsOfProcess(); }

StreamOptions DefaultStreamOptions() {
    return StreamOptions{65536, 1, StreamInOrder, NPRES_DONE, 0, 0, nullptr, nullptr};
}

BrowserFrame* OpenFrame(Browser* browser, const std::string& document, int width, int height,
                        const StreamOptions& options) {
    RegisterClasses();
    RECT outer = {0, 0, width, height};
    DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    AdjustWindowRect(&outer, style, FALSE);
    int offset = 30 * (int)Frames.size();
    HWND window = CreateWindowExA(0, FrameClass, "", style, offset, offset, outer.right - outer.left,
                                  outer.bottom - outer.top, NULL, NULL, GetModuleHandleA(NULL), NULL);
    if (!window) {
        return NULL;
    }
    BrowserFrame* frame = new BrowserFrame();
    frame->browser = browser;
    frame->window = window;
    frame->streamOptions = options;
    Frames.push_back(frame);
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    LoadDocument(frame, document);
    return frame;
}

void NavigateFrame(BrowserFrame* frame, const std::string& document) {
    DestroyInstances(frame);
    InvalidateRect(frame->window, NULL, TRUE);
    LoadDocument(frame, document);
}

void CloseFrame(BrowserFrame* frame) {
    DestroyInstances(frame);
    HWND window = frame->window;
    RemoveFrame(frame);
    DestroyWindow(window);
}

const std::vector<BrowserFrame*>& OpenFrames() { return Frames; }

// A hidden window that holds plug-in windows while a reflow rebuilds the
// frame's own (in process UXP).
HWND ParkingWindow() {
    static HWND parking = NULL;
    if (!parking) {
        parking = CreateWindowExA(0, PluginClass, "", WS_POPUP, 0, 0, 1, 1, NULL, NULL, GetModuleHandleA(NULL), NULL);
    }
    return parking;
}

void ResizeFrame(BrowserFrame* frame, int width, int height) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRect(&outer, (DWORD)GetWindowLongA(frame->window, GWL_STYLE), FALSE);
    SetWindowPos(frame->window, NULL, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    if (frame->fullPage) {
        return;
    }
    for (PageInstance* instance : frame->instances) {
        if (instance->newResult != NPERR_NO_ERROR || instance->destroyed) {
            continue;
        }
        if (frame->browser->host == HostUxpInProcess) {
            SetParent(instance->window, ParkingWindow());
            SetParent(instance->window, frame->window);
        }
        CallSetWindow(instance);
    }
}

void SetFrameBackground(BrowserFrame* frame, int background) {
    if (frame->browser->host != HostUxpInProcess) {
        return;
    }
    for (PageInstance* instance : frame->instances) {
        if (instance->newResult == NPERR_NO_ERROR && !instance->destroyed) {
            RECT place = {instance->npWindow.x, instance->npWindow.y, instance->npWindow.x + (int)instance->npWindow.width,
                          instance->npWindow.y + (int)instance->npWindow.height};
            PlaceNpWindow(instance, place, background);
            CallSetWindow(instance);
        }
    }
}

void RescaleFrame(BrowserFrame* frame, double scale) {
    Browser* browser = frame->browser;
    browser->contentsScale = scale;
    for (PageInstance* instance : frame->instances) {
        if (instance->newResult == NPERR_NO_ERROR && !instance->destroyed && browser->pluginFuncs.setvalue) {
            PluginCall call(browser, "NPP_SetValue");
            browser->pluginFuncs.setvalue(&instance->npp, NPNVcontentsScaleFactor, &scale);
        }
    }
}

void ReleaseStreams(BrowserFrame* frame) {
    for (PageInstance* instance : frame->instances) {
        if (instance->stream.state == StreamHeld) {
            ScheduleStream(instance);
        }
    }
}

void DestroyInstance(PageInstance* instance) {
    if (instance->destroyed) {
        return;
    }
    instance->destroyed = 1;
    Browser* browser = instance->frame->browser;
    if (instance->stream.state == StreamOpen) {
        EndStream(instance, NPRES_USER_BREAK);
    }
    SetStreamState(instance, StreamEnded);
    if (instance->newResult == NPERR_NO_ERROR) {
        PluginCall call(browser, "NPP_Destroy");
        browser->pluginFuncs.destroy(&instance->npp, NULL);
    }
    instance->npp.ndata = &browser->destroyedMark;
    UndoHostSubclass(instance);
}

int HostSubclassOnTop(const PageInstance* instance) {
    return GetWindowLongPtrA(instance->window, GWLP_WNDPROC) == (LONG_PTR)(void*)&HostWindowProc;
}

int PendingStreams() { return StreamsPending; }

int WaitUntilQuiet(int quietMs, int maxMs) {
    DWORD start = GetTickCount();
    DWORD quietSince = start;
    double lastCpu = CpuSecondsOfProcess();
    while ((int)(GetTickCount() - start) < maxMs) {
        PumpMessages();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 50, QS_ALLINPUT);
        double cpu = CpuSecondsOfProcess();
        // A thread timer's message is the browser's own (the dialog dump, the
        // idle shutdown), not the page's; timers come last, so nothing else waits.
        MSG waiting;
        int message = PeekMessageA(&waiting, NULL, 0, 0, PM_NOREMOVE) &&
                      !(waiting.message == WM_TIMER && waiting.hwnd == NULL);
        int busy = cpu - lastCpu > 0.010 || message || StreamsPending > 0;
        lastCpu = cpu;
        DWORD now = GetTickCount();
        if (busy) {
            quietSince = now;
        } else if ((int)(now - quietSince) >= quietMs) {
            return 1;
        }
    }
    return 0;
}

void RunMessageLoop() {
    MSG message;
    while (!Frames.empty() && GetMessageA(&message, NULL, 0, 0) > 0) {
        DispatchAsBrowser(&message);
    }
}

void DispatchAsBrowser(const MSG* message) {
    const MSG* outer = BrowserDispatching;
    BrowserDispatching = message;
    TranslateMessage(message);
    DispatchMessageA(message);
    BrowserDispatching = outer;
}

void DestroyEveryInstanceAfter(Browser* browser, int milliseconds) {
    PlannedDestroy.browser = browser;
    PlannedDestroy.fired = 0;
    PlannedDestroy.timer = SetTimer(NULL, 0, (UINT)milliseconds, DestroyEveryInstance);
}

void DestroyEveryInstanceSoon(Browser* browser) { DestroyEveryInstanceAfter(browser, 50); }

int PlannedDestroyDone() { return PlannedDestroy.timer == 0 || PlannedDestroy.fired; }

int SaveDcAreaToBmp(HDC source, int left, int top, int width, int height, const std::string& path) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!bitmap) {
        return 0;
    }
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, left, top, SRCCOPY);
    GdiFlush();
    int stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> rows((const uint8_t*)bits, (const uint8_t*)bits + (size_t)stride * height);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return WriteBmp(path, width, height, rows);
}

int SaveFrameScreenshot(BrowserFrame* frame, const std::string& bmpPath) {
    RedrawWindow(frame->window, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    PumpMessages();
    RECT client;
    GetClientRect(frame->window, &client);
    HDC dc = GetDC(frame->window);
    int ok = SaveDcAreaToBmp(dc, 0, 0, client.right, client.bottom, bmpPath);
    ReleaseDC(frame->window, dc);
    return ok;
}

namespace {

void CallPrint(PageInstance* instance, NPPrint* print) {
    Browser* browser = instance->frame->browser;
    PluginCall call(browser, "NPP_Print");
    browser->printCalls++;
    browser->pluginFuncs.print(&instance->npp, print);
}

}  // namespace

void PrintAsHost(PageInstance* instance, HDC printer) {
    int host = instance->frame->browser->host;
    if (host == HostUxpOutOfProcess) {
        return;
    }
    if (host == HostUxpInProcess && instance->frame->fullPage) {
        NPPrint full = {};
        full.mode = NP_FULL;
        CallPrint(instance, &full);
        if (full.print.fullPrint.pluginPrinted) {
            return;
        }
    }
    NPPrint print = {};
    print.mode = NP_EMBED;
    print.print.embedPrint.window = instance->npWindow;
    print.print.embedPrint.window.x = 0;
    print.print.embedPrint.window.y = 0;
    print.print.embedPrint.platformPrint = printer;
    if (host == HostUxpInProcess) {
        print.print.embedPrint.window.window = NULL;
        print.print.embedPrint.window.clipRect = NPRect();
        NPPrint again = print;
        CallPrint(instance, &again);
    }
    CallPrint(instance, &print);
}

int PrintElementToFile(PageInstance* instance, const std::string& bmpPath) {
    int width = (int)instance->npWindow.width;
    int height = (int)instance->npWindow.height;
    HDC screen = GetDC(NULL);
    HDC printer = CreateCompatibleDC(screen);
    HBITMAP page = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(printer, page);
    RECT all = {0, 0, width, height};
    FillRect(printer, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    PrintAsHost(instance, printer);
    int ok = SaveDcAreaToBmp(printer, 0, 0, width, height, bmpPath);
    SelectObject(printer, old);
    DeleteObject(page);
    DeleteDC(printer);
    ReleaseDC(NULL, screen);
    return ok;
}

namespace {

NPN_GetURLProcPtr RecordGetUrl;

void CarryOutGetUrl(Browser* browser, NPP instance, const char* url, const char* target) {
    BrowserFrame* frame = NULL;
    std::string base;
    for (BrowserFrame* candidate : Frames) {
        for (PageInstance* page : candidate->instances) {
            if (&page->npp == instance) {
                frame = candidate;
                base = candidate->documentPath;
            }
        }
    }
    std::string path = url ? ResolveLocalPath(url, base) : "";
    if (!frame || path.empty() || browser != frame->browser) {
        return;  // recorded only: not a local file, or no frame to load it in
    }
    // Like a real browser the load happens later, from the message loop: the
    // plug-in is still inside its own window procedure here.
    // The one frame of a document stands for _self, _top and _parent; any
    // other name is a new window, as no frame carries a name here.
    static const char* const sameFrame[] = {"", "_self", "_top", "_parent"};
    int blank = 1;
    for (const char* name : sameFrame) {
        blank &= !(target == NULL || strcmp(target, name) == 0);
    }
    if (blank && !PopupsAllowed(browser)) {
        browser->popupsBlocked++;
        printf("popup blocked: %s\n", url);
        fflush(stdout);
        return;
    }
    PostMessageA(frame->window, blank ? OpenBlankMessage : NavigateMessage, 0, (LPARAM) new std::string(path));
}

NPError PageGetUrl(NPP instance, const char* url, const char* target) {
    NPError result = RecordGetUrl(instance, url, target);
    Browser* browser = instance ? (Browser*)instance->ndata : NULL;
    if (browser && result == NPERR_NO_ERROR) {
        CarryOutGetUrl(browser, instance, url, target);
    }
    return result;
}

}  // namespace

void EnablePageBrowsing(Browser* browser) {
    if (browser->browserFuncs.geturl != PageGetUrl) {
        RecordGetUrl = browser->browserFuncs.geturl;
        browser->browserFuncs.geturl = PageGetUrl;
    }
}
