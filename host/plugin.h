// What window/ and commands/ may use from host/: the per-instance record and
// the rules for reading what the decode thread publishes into it, the
// process-wide state set at load, two-language texts, the warning box, the
// browser calls and the guard around modal loops.
#ifndef HOST_PLUGIN_H
#define HOST_PLUGIN_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <windows.h>

#include "decode/jpeg2000.h"
#include "host/npapi.h"
#include "host/pipeline_table.h"
#include "host/received_bytes.h"

struct PluginInstance;
struct DecodeJobCancel;
struct PictureSection;

// The failure reason of a stream that ended before its last byte; the other
// reasons are the decoder's DecodeFailure values.
enum { FailureInterrupted = 100 };

// Progress of one instance, in order: readers compare with >= and <.
enum {
    LoadStateWaiting = 0,
    LoadStateReceiving = 1,
    LoadStateEnded = 2,
};

// The record is a set of parts, each written by one file (on whichever
// thread that file's code runs); every other file only reads a part, and
// asks the owner's functions for a change. tools/check-owners.sh holds the
// table of parts and owners and fails a build that writes a part elsewhere.

// The element as the page gave it (host/instance_lifecycle.cpp, in NPP_New).
struct ElementSettings {
    uint16_t mode;
    NPP npp;
    int32_t hasLink;
    HCURSOR linkCursor;
    char href[1024];
    char target[256];
};

// The browser's window the record draws in (window/window_proc.cpp); hwnd
// is read by the decode queue's workers.
struct WindowAttachment {
    HWND hwnd;
    WNDPROC prevWndProc;
};

// The stream and its bytes (host/stream.cpp, UI thread). url is the
// stream's whole address (null before the first stream; read it through
// InstanceUrl); stream the one being received (a write for another is
// refused). The bytes arrive into `store`, never moved; when the stream ends
// `file` becomes a read-only view of all of them and the store is closed:
// every decode of the record reads `file` in place, and nobody changes it
// while any runs. A prefix job reads a view of its own (see PrefixJob).
// announcedLength is the length the stream announced (0: none); failed* is
// the block a failed write was for, reported from the window procedure once
// NPP_Write has returned.
struct Reception {
    char* url;
    NPStream* stream;
    ReceivedBytes store;
    BytesView file;
    int32_t loadState;
    int32_t announcedLength;
    uint32_t progressPaintTick;
    int32_t failedOffset;
    int32_t failedLength;
    void* failedBuffer;
};

// What the decodes made of the file (host/picture_levels.cpp, on the UI
// thread and the decode queue's workers alike): published with StoreRelease
// and read with LoadAcquire on the other thread.
struct PictureLevels {
    int32_t fileKind;
    // Set once the file's outcome is known to be a failure; failureReason
    // (a DecodeFailure value or FailureInterrupted) is published before it.
    int32_t decodeError;
    int32_t failureReason;
    uint8_t* comments;
    uint32_t commentsLength;
    // The picture's size, the size shown (smaller by shownReduce halvings of
    // both sides when the full one is past the sample cap), published before
    // any bitmap. A large picture first gets a preview bitmap, painted at the
    // shown size until dib comes; the UI thread alone frees it once dib is
    // there (it may be painting it).
    int32_t fullWidth;
    int32_t fullHeight;
    int32_t shownWidth;
    int32_t shownHeight;
    int32_t shownReduce;
    uint8_t* preview;
    // dib holds the picture at dibReduce halvings: the level the view needs,
    // not necessarily the full picture. maxReduce (published with the
    // geometry) is the codestream's smallest level. A larger level decoded
    // later waits in nextLevel (taken by one atomic exchange) until the UI
    // thread puts it in dib's place (InstallNextLevel), so the old one is
    // freed only where it is painted. levelFailure says why a larger level
    // was given up (a DecodeFailure value; 0 while none was). dibCount
    // counts the bitmaps put in dib, so that a copy made of one is known
    // from one of a later bitmap at the same address.
    uint8_t* dib;
    uint8_t* dibBits;
    BITMAPINFOHEADER* dibHeader;
    int32_t dibReduce;
    uint32_t dibCount;
    int32_t maxReduce;
    uint8_t* nextLevel;
    int32_t levelFailure;
    // UI thread: how many commands use the level in dib as the full picture
    // (AcquireFullPicture to ReleaseFullPicture); while any does, no other
    // level takes its place.
    int32_t holds;
    // The finest level a command can have (published with the geometry):
    // shownReduce, or finer where a 64-bit decoder's sample cap allows it.
    int32_t fullReduce;
    // A command's full picture that a decoder process made and that is
    // larger than a few MB: it stays in the decoder's section (read through
    // views, never mapped whole here) at sectionReduce halvings, and the
    // level shown stays in dib. Published by the worker (one atomic
    // exchange); its one owner is the record: the command that asked for it
    // reads it, and it is closed when the last command holding the picture
    // ends (ReleaseFullPicture), or with the record or a new stream.
    PictureSection* section;
    int32_t sectionReduce;
};

// How a full page is scrolled, or fitted to the window
// (window/scrolling.cpp, UI thread). A new record is fitted.
struct ScrollState {
    int32_t active;
    int32_t x;
    int32_t y;
    int32_t clientWidth;
    int32_t clientHeight;
    int32_t hBarShown;
    int32_t vBarShown;
    // 1 while the page shows the picture at zoom.scale, not fitted.
    int32_t fixedScale;
};

// How a full page is zoomed (window/zoom.cpp, UI thread). scale is device
// pixels per picture pixel while the view is not fitted; contentsScale is
// device pixels per CSS pixel (the browser's answer, else the window's DPI
// over 96), so 100 % is one picture pixel per CSS pixel. badgeShown: the
// scale is shown in a corner for a moment after each change.
struct ViewZoom {
    double scale;
    double contentsScale;
    int32_t contentsScaleFromBrowser;
    int32_t badgeShown;
};

// The pointer and the wheel (window/view_input.cpp, UI thread). A
// left-button press in the picture: where, the scroll origin then, and
// whether the pointer has since moved far enough to be a drag; or the press
// went down on a link, which is followed when the button comes up over the
// element (the press holds the pointer until then). Wheel
// movement not yet a whole notch, per direction and for zooming.
struct PointerState {
    int32_t pressed;
    int32_t dragging;
    POINT pressPoint;
    int32_t pressOriginX;
    int32_t pressOriginY;
    int32_t linkPressed;
    int32_t wheelRest;
    int32_t hwheelRest;
    int32_t zoomWheelRest;
};

// What the last paint drew (window/paint_window.cpp, UI thread): a picture
// (a larger level is then drawn over it without an erase). An animation's
// frame larger than it is drawn is painted from `drawn`, the frame shrunk
// once to that size (of the dib whose dibCount is drawnFrom), not stretched
// at every paint.
struct PaintState {
    int32_t picturePainted;
    uint8_t* drawn;
    uint32_t drawnFrom;
};

// A prefix job: the picture of the part of a file received so far, at the
// level its view needs. The UI thread plans that part (header only) and
// asks for the job with a request; the decode queue holds it under its lock.
struct PrefixRequest {
    int32_t length;  // the decodable part of the bytes received
    int32_t kind;
    int32_t viewWidth;
    int32_t viewHeight;
    DecodePlan plan;
    int32_t reduce;
};

// The record's prefix job as the queue holds it: the request it runs and
// the view of the received bytes it reads (taken when it was queued,
// released when it ends or is dropped), and the same for the last job of a
// broken stream, noted while another ran.
struct PrefixJob {
    PrefixRequest queued;
    BytesView bytes;
    PrefixRequest last;
    BytesView lastBytes;
};

// The record's link with the decode queue (host/decode_queue.cpp). state is
// the record's place in the decode pipeline (a PipelineState of
// host/pipeline_table.h, changed only by the table's steps under the queue's
// lock); decoding is 1 while a plan or level job of the record runs (not
// while it waits its turn); view* is the size the window last drew the
// whole picture at (0 x 0: not yet known). Those are stored with release.
// The rest is the queue's under its lock: the prefix job, the list link and
// the list it waits in, the kind of its running job, the plan read from the
// header (planned once it is), the level it should end at and the level
// last decoded, what its running job was admitted with, and the handle that
// cancels that job (the running worker's). While commandWanted, a command
// waits for the level commandReduce (or a finer one) and its decode goes
// ahead of the views'; commandAside: it reads that level through views
// (jobAside: the running job is its level). `coarser` asks for a level
// coarser than the one decoded (a large level no command uses any more
// gives way to the view's level), jobCoarser is its running job.
struct QueueLink {
    int32_t state;
    int32_t decoding;
    int32_t viewWidth;
    int32_t viewHeight;
    PrefixJob prefix;
    PluginInstance* next;
    uint32_t order;
    int32_t list;
    int32_t jobKind;
    int32_t planned;
    DecodePlan plan;
    int32_t targetReduce;
    int32_t decodedReduce;
    int32_t commandWanted;
    int32_t commandReduce;
    int32_t commandAside;
    int32_t coarser;
    int32_t jobCoarser;
    int32_t jobAside;
    int32_t jobReduce;
    int32_t jobShort;
    int32_t jobThreads;
    uint64_t jobBytes;    // the job's planned peak (a decoder process's limit)
    uint64_t jobCharged;  // what admission took of this process's memory for it
    int32_t decoderEnd;   // the running job's decoder died or ran out of time (a DecodeFailure)
    DecodeJobCancel* cancel;
    // What the running job reads, fixed when a worker took it: the prefix
    // job's view or the file's, not owned here (the one below, once killed).
    BytesView jobView;
    // The file's view a job killed by a new stream still reads; released
    // when that job ends.
    BytesView killedFile;
};

// Pictures of the part of a file received so far (host/partial_picture.cpp),
// made by its prefix jobs.
struct ArrivalPictures {
    // UI thread: the picture shown while the file arrives, or after it was
    // interrupted, until the final picture or preview replaces it.
    uint8_t* shown;
    // The newest picture, published by the decode and taken by the UI
    // thread, each with an atomic exchange.
    uint8_t* pending;
    // Pacing, read by the UI thread while no prefix job is queued or runs:
    // the length and start of the last prefix job (before the first, when
    // the stream opened) and what it cost (written by it).
    int32_t lastLength;
    uint32_t lastStartTick;
    uint32_t lastCostMs;
    // UI thread: where the measure of the decodable part got to.
    PrefixMeasure measure;
    // What the prefix jobs of this stream cost: how many ran, their
    // processor time (100 ns units: the worker's, and a decoder process's
    // for a job it ran), how many gave a picture.
    int32_t count;
    uint64_t processorTime;
    int32_t pictures;
};

// A part of a picture past the sample cap decoded at a finer level than the
// one shown, for a view zoomed past that level: a packed DIB of the level
// pixels `level` at `reduce` halvings, in a level levelWidth x levelHeight.
struct RegionBitmap {
    uint8_t* dib;
    RECT level;
    int32_t reduce;
    int32_t levelWidth;
    int32_t levelHeight;
};

// The part in view of a picture past the sample cap, at full resolution
// (host/region_view.cpp). `wanted` (when isWanted) is the part the view
// asked for, in full-resolution pixels, not yet taken by a decode;
// `decoding` (when isDecoding) the one a decode makes now; `next` the newest
// decoded one, not yet taken by the UI thread. Those are guarded by the
// region lock; `shown`, the one painted, is the UI thread's.
struct RegionState {
    int32_t isWanted;
    RECT wanted;
    int32_t wantedReduce;
    int32_t isDecoding;
    RECT decoding;
    int32_t decodingReduce;
    RegionBitmap* next;
    RegionBitmap* shown;
};

// Menus, dialogs and message boxes running on the record
// (host/instance_lifecycle.cpp, UI thread): how many, and whether
// NPP_Destroy came during one. The browser may destroy the instance from
// inside such a loop; the record then lives until the outermost loop has
// returned.
struct ModalGuard {
    int32_t depth;
    int32_t destroyPending;
};

// The pictures of a file that holds several: the pages of a document, the
// frames of an animation (host/picture_sequence.cpp). The plan job publishes
// how many there are, whether they are pages, the shown one's duration and
// the loop count, and each level job whether data held in other files was
// left out (release stores). `index` is the picture shown and decoded: it
// changes on the UI thread only while no decode of the record runs, and the
// jobs read it. `wanted` is the one asked for; the switch waits for the
// running decode when there is one. An animation's playback (UI thread):
// started once, playing, the tick the next frame is due, loops done, a frame
// switched to whose bitmap is not yet in place (the one before stays shown
// until it is), the frames shown and due while it played, and whether the
// element could not be seen (its ticks then stop until a paint).
struct PictureSequence {
    int32_t count;
    int32_t pages;
    uint32_t durationMs;
    uint32_t loops;
    uint32_t notes;
    uint32_t index;
    uint32_t wanted;
    int32_t started;
    int32_t playing;
    uint32_t dueTick;
    uint32_t loopsDone;
    int32_t awaiting;
    uint32_t framesShown;
    uint32_t framesDue;
    int32_t unseen;
};

// One per NPAPI instance, malloc'ed zero-filled by NPP_New and freed by
// NPP_Destroy (or by the decode queue's worker still decoding it then).
struct PluginInstance {
    ElementSettings element;
    WindowAttachment window;
    Reception reception;
    PictureLevels picture;
    ScrollState scroll;
    ViewZoom zoom;
    PointerState pointer;
    PaintState paint;
    QueueLink queue;
    ArrivalPictures arrival;
    RegionState region;
    PictureSequence sequence;
    ModalGuard modal;
};

inline const char* InstanceUrl(const PluginInstance* record) {
    return record->reception.url != NULL ? record->reception.url : "";
}

template <typename T>
inline void StoreRelease(T* field, T value) {
    __atomic_store_n(field, value, __ATOMIC_RELEASE);
}
template <typename T>
inline T LoadAcquire(const T* field) {
    return __atomic_load_n(field, __ATOMIC_ACQUIRE);
}

// Whether a job of the record is queued or runs.
inline int IsDecodeBusy(const PluginInstance* record) {
    const PipelineStateFacts* facts = PipelineFacts(LoadAcquire(&record->queue.state));
    return facts->queued || facts->running;
}

// One consistent view of the decoded image, taken with acquire loads: the
// bitmap and its own size, and the size it is laid out at (larger than the
// bitmap for a preview).
struct ImageView {
    const BITMAPINFO* info;
    const void* bits;
    int32_t width;
    int32_t height;
    int32_t bitmapWidth;
    int32_t bitmapHeight;
};

// 1 with the view filled when dib, dibHeader and dibBits are all published;
// 0 with the view zeroed otherwise. The bitmap is the level shown, laid out
// at the picture's size; what needs the full picture uses AcquireFullPicture.
int GetPublishedImage(ImageView* viewOut, const PluginInstance* record);

// What the window shows: the published image, else the preview, else the
// picture of the part received so far, each laid out at the shown picture's
// size; 0 with the view zeroed when there is none.
// UI thread only (the UI thread alone frees the preview).
int GetShownImage(ImageView* viewOut, const PluginInstance* record);

// UI thread: drops the preview once the picture it stood for is published.
void DropReplacedPreview(PluginInstance* record);

// UI thread, when the decode posts: shows the newest partial picture, and
// drops it once the final picture (or its preview) is there or the final
// decode failed. An interrupted download keeps it.
void AdoptPartialPicture(PluginInstance* record);

// UI thread: puts a level decoded since into dib's place and frees the one
// it replaces, unless a command holds the full picture; 1 when it did.
int InstallNextLevel(PluginInstance* record);

// UI thread. The window calls it whenever the size at which the whole
// picture is drawn (device pixels) changes. When neither the level shown
// nor the one queued covers that size, the level that does is decoded in
// the background and replaces the shown bitmap when published (the window
// hears DecodeProgressMessage); a smaller size decodes nothing. Before the
// picture's header is known it only records the size.
void RequestViewSize(PluginInstance* record, int32_t deviceWidth, int32_t deviceHeight);

// UI thread, for a picture past the sample cap: `visible` is the part of the
// picture in view (full-resolution pixels) while the whole picture is drawn
// drawnWidth x drawnHeight device pixels. When the level shown is too
// coarse for that size, the part in view (and a margin around it) is
// decoded at the level needed, in the background, unless a decode already
// made or makes it; otherwise the part decoded earlier is dropped.
void RequestVisibleRegion(PluginInstance* record, const RECT* visible, int32_t drawnWidth, int32_t drawnHeight);
// UI thread, when a decode has posted: the newest decoded part becomes the
// one painted.
void AdoptRegionBitmap(PluginInstance* record);
// UI thread: the part to paint over the picture, or null.
inline const RegionBitmap* GetRegionBitmap(const PluginInstance* record) { return record->region.shown; }

// Takes `count` bytes of a picture handed over in pieces; 0 stops it.
typedef int (*PictureBytesSink)(void* context, const uint8_t* bytes, uint32_t count);

// A command's full picture, from AcquireFullPicture to ReleaseFullPicture:
// `view` when this process holds it whole (the level in dib), or `section`
// (view zeroed) when a decoder process made it and it is larger than a few
// MB: it stays in the decoder's section and is read a few MB at a time.
// Either way `head` is the packed DIB's header and palette and `bytes` its
// whole size; ReadFullPicture hands over every byte of it.
struct FullPicture {
    ImageView view;
    const PictureSection* section;
    const uint8_t* head;
    uint32_t bytes;
};

// A packed DIB held whole (null: none) as a FullPicture.
void DescribeHeldPicture(FullPicture* pictureOut, const uint8_t* dib);
// The packed DIB to `sink` in order, header first, in pieces of at most a
// few MB for a section; 0 when the sink refused or a view could not be mapped.
int ReadFullPicture(const FullPicture* picture, PictureBytesSink sink, void* context);

// UI thread, for commands that need the full picture (save as bitmap, copy,
// wallpaper): 1 with the full-resolution bitmap (or the capped picture past
// the sample cap, unless a 64-bit decoder can make the full one: the level
// is the picture's fullReduce), decoding it first when only a smaller
// level is there (the wait cursor and the browser's status line show while
// it is prepared; messages are dispatched meanwhile, so it runs inside
// RunCommand; the wait ends early when the instance is destroyed). 0 when
// there is none: *failureOut is then why
// the full picture could not be prepared (a DecodeFailure value), or 0 when
// there is no picture at all (the file has not ended, or its decode failed,
// which the window already shows).
// The picture stays valid until the caller's ReleaseFullPicture.
int AcquireFullPicture(FullPicture* pictureOut, int* failureOut, PluginInstance* record);
// The same for a level at least as fine as `reduce` halvings (a printer
// needs no more): only that level is decoded when a coarser one is shown,
// and nothing when a level as fine is there already.
int AcquirePictureLevel(ImageView* viewOut, int* failureOut, PluginInstance* record, int reduce);
// UI thread, after every AcquireFullPicture or AcquirePictureLevel that gave
// a picture, once the command is done with it: a large level finer than the
// view needs is then replaced by the view's, decoded again in the
// background, so that a page of elements does not keep a full-resolution
// bitmap for each one copied, saved or printed (a 32-bit browser has 2 GB
// for everything).
void ReleaseFullPicture(PluginInstance* record);
// The warning for a failure AcquireFullPicture gave (`failure` non-zero),
// or for a file that failed (its failureReason).
void WarnNoFullPicture(PluginInstance* record, int failure);
// A failure's reason in the interface language, as stored (a DecodeFailure
// value or FailureInterrupted).
const char* ChooseFailureReason(int32_t reason);

// Printing (host/printing.cpp), UI thread. The level whose size covers
// dotsWidth x dotsHeight printer dots (never finer than the sample cap
// allows); 0 before the picture's size is known.
int ChoosePrintReduce(const PluginInstance* record, int32_t dotsWidth, int32_t dotsHeight);
// The view's bitmap stretched over `target` (the dc's logical units) with a
// filtered stretch, handed to the printer in bands of rows when large; 0
// when the printer refused a band.
int DrawPrintedPicture(HDC dc, const RECT* target, const ImageView* view);
// In place of the picture, a framed box over `area` saying why it is not
// printed: `failure` (a DecodeFailure value) when AcquirePictureLevel gave
// one, else the file's own state (not arrived, interrupted, not decoded).
void DrawPrintFailure(HDC dc, const RECT* area, const PluginInstance* record, int failure);

// UI thread: asks for picture `index` of the file (a page or a frame); 0
// when there is no such picture. The picture shown is cleared and the new
// one decoded at once when no decode of the record runs and no command holds
// the picture; otherwise the switch waits (PictureSwitchPending) until
// SwitchToWantedPicture finds the record free.
int RequestPicture(PluginInstance* record, uint32_t index);
int SwitchToWantedPicture(PluginInstance* record);
inline int PictureSwitchPending(const PluginInstance* record) {
    return record->sequence.wanted != record->sequence.index;
}
// The pages of a document of more than one page: 1 while there is one.
inline int HasPages(const PluginInstance* record) {
    return LoadAcquire(&record->sequence.pages) && LoadAcquire(&record->sequence.count) > 1;
}
// The frames of an animation (a JPX animation, a Motion JPEG 2000 track).
inline int IsAnimation(const PluginInstance* record) {
    return !LoadAcquire(&record->sequence.pages) && LoadAcquire(&record->sequence.count) > 1;
}
// Playback (UI thread; `now` in GetTickCount milliseconds). A frame switch
// keeps the frame shown until the next one's bitmap replaces it through
// InstallNextLevel, after which the window calls NoteFrameShown (and
// SettleAwaitedFrame, which lets go of a frame whose decode failed).
// StartPlayback plays an animation once its first frame shows;
// TogglePlayback pauses or plays (from the start again once played out);
// StepFrame moves a paused animation by `step` frames; PlaybackDue says a
// frame is due and nothing holds it back (a switch under way, a menu or
// dialog); AdvancePlayback then asks for the frame due now, dropping those
// whose time has passed, and decodes nothing for an element not `visible`.
// NoteElementSeen keeps whether the element can be seen: an unseen one's
// ticks stop, and the paint that shows it resumes them.
void StartPlayback(PluginInstance* record, uint32_t now);
void TogglePlayback(PluginInstance* record, uint32_t now);
int StepFrame(PluginInstance* record, int step);
int PlaybackDue(const PluginInstance* record, uint32_t now);
void AdvancePlayback(PluginInstance* record, uint32_t now, int visible);
void NoteFrameShown(PluginInstance* record);
void SettleAwaitedFrame(PluginInstance* record);
void NoteElementSeen(PluginInstance* record, int seen);
inline int PlaybackActive(const PluginInstance* record) {
    return record->sequence.playing || record->sequence.awaiting || PictureSwitchPending(record);
}

// The message the decode thread posts to the attached window when a decode
// starts (wParam DecodeStarted: the status box says it decodes) and when a
// preview, a level, a picture of the part received, a region or an error is
// published (DecodePublished); the UI thread then updates the scroll bars
// and repaints.
enum { DecodeStarted = 0, DecodePublished = 1 };
UINT DecodeProgressMessage();

// The message a failed buffer growth posts to the attached window; the UI
// thread then shows the warning outside any browser call.
UINT AllocationFailedMessage();
// The warning for the failed growth, shown by the window procedure. The
// browser may destroy the instance while the box is up: callers must not
// touch the record after it.
void WarnAllocationFailed(PluginInstance* record);

// Process-wide state, set at load and by the entry points only.
extern HINSTANCE ModuleHandle;
extern LANGID UiLanguage;
extern HCURSOR LinkCursorMicrosoft;
extern HCURSOR LinkCursorOther;
extern HICON AboutIconFrames[4];
extern HICON CommentsIcon;
extern HCURSOR ZoomInCursor;
extern HCURSOR ZoomOutCursor;

// Japanese, Japan: the one language identifier that selects Japanese texts.
enum { JapaneseLanguageId = 1041 };

inline bool IsJapaneseUi() { return UiLanguage == JapaneseLanguageId; }

// A user-visible text in its two languages as the binary stores it: English
// in ASCII, Japanese in Shift_JIS (code page 932, which holds ASCII too).
// It is shown only as UTF-16 through the wide-character (...W) functions,
// converted from code page 932 once, on first use, so that both languages
// read right whatever the system's ANSI code page. A list text (the Save As
// filters) is a run of zero-terminated texts closed by an empty one. Each
// folder keeps its texts as UiText rows of its own tables; formats use %ls
// for a wide-string argument.
struct UiText {
    const char* english;
    const char* japanese;
    mutable const wchar_t* wide[2] = {};  // per language, filled on first use
};

// The text in the UI language as UTF-16, converted on first use and kept
// until the module is unloaded; "" when there is no memory. UI thread only.
const wchar_t* UiString(const UiText& text);
// The same for a list text: every text of the run and the closing empty one.
const wchar_t* UiStringList(const UiText& text);

// The stored bytes in the UI language, for a text composed of stored pieces
// before StoredTextToWide shows it; a whole text is shown with UiString.
inline const char* PickText(const UiText& text) { return IsJapaneseUi() ? text.japanese : text.english; }

// A text composed of stored texts (Shift_JIS or ASCII) as UTF-16 into
// textOut (count characters, always terminated, cut to fit).
void StoredTextToWide(wchar_t* textOut, size_t count, const char* stored);

// The boxes show nothing for a record whose instance the browser destroyed
// (InstanceDestroyed); a question is then answered Cancel.
// The one warning box: wvsprintfW (its %s takes a wide string) into 1024
// characters, caption "JPEG 2000 Plug-in", owner = record's hwnd (none for a
// null record).
void ShowPluginMessage(PluginInstance* record, const wchar_t* format, ...);

// The same box with OK and Cancel, for a warning the user may go past;
// 1 when OK was chosen. The text is never taken as a format.
int AskPluginQuestion(PluginInstance* record, const wchar_t* text);

// Shows one bilingual warning; the text is never taken as a format.
void ShowUiMessage(PluginInstance* instance, const UiText& text);

// Bytes from the browser (URL, link, target, file name) as UTF-16 into
// textOut (count characters, always terminated, cut to fit), read in the
// system's ANSI code page as the browser's ANSI interface hands them over.
void AnsiToWide(wchar_t* textOut, size_t count, const char* text);

// About's line on where decoding runs (decoder processes and what confines
// them, or this process and why), into textOut (count characters).
void DescribeDecoderPlace(wchar_t* textOut, size_t count);

// Formats into textOut (count characters), always terminated, cut to fit.
void FormatText(wchar_t* textOut, size_t count, const wchar_t* format, ...);
void FormatTextV(wchar_t* textOut, size_t count, const wchar_t* format, va_list arguments);

// Names compare in ASCII letter case only, whatever the locale.
bool EqualsIgnoringAsciiCase(const char* left, const char* right);

const char* NPN_UserAgent(NPP instance);
NPError NPN_GetURL(NPP instance, const char* url, const char* target);
// NPN_GetURL for something the user asked for (a click, a menu command):
// browsers block windows a plug-in opens outside such moments unless the
// call is wrapped in the popup-state pair.
NPError OpenUrlForUser(NPP instance, const char* url, const char* target);
// The browser's device pixels per CSS pixel into scaleOut; 0 when the browser
// does not say (no browser, an old table, or no answer).
int AskContentsScale(NPP instance, double* scaleOut);

// The one way into a command, on the UI thread: the menu's commands, the
// shortcut keys, the menu key and printing all run through RunCommand,
// which keeps the record alive while `command` runs, whatever modal loop or
// wait it enters. Should the browser destroy the instance meanwhile, the
// record is freed only once the outermost command has returned, so the
// caller must not touch it after RunCommand. A command for an instance
// already destroyed does not start.
typedef void (*RecordCommand)(PluginInstance* record, void* context);
void RunCommand(PluginInstance* record, RecordCommand command, void* context);

// Inside a command, after any modal loop or wait: 1 once the browser has
// destroyed the instance. The command then stops: its NPP is gone (no
// browser call), no decode may be queued, and the boxes below show nothing.
inline int InstanceDestroyed(const PluginInstance* record) { return record->modal.destroyPending; }

// The browser's status line for the instance, the stored text (see UiText)
// handed over as UTF-8, as browsers read it; nothing once it is destroyed.
void ShowStatusText(PluginInstance* record, const char* stored);

#endif
