// Declarations shared inside host/ (and by the tests that drive it): the
// NPP_ functions of the browser's table, module start-up and its language
// rule, the tables exchanged with the browser, and the record's release and
// decode thread.
#ifndef HOST_HOST_INTERNAL_H
#define HOST_HOST_INTERNAL_H

#include "host/decode_job.h"
#include "host/plugin.h"

extern NPPluginFuncs* PluginFuncs;
extern NPNetscapeFuncs* BrowserFuncs;

// Module start-up: what the DLL entry does on process attach. Test programs
// that link the plug-in's code statically call it with their own module.
void InitializeModule(HINSTANCE module);

int IsJapaneseLanguage(LANGID language);

// Copies at most size - 1 bytes and always terminates (a null source gives "").
void CopyBounded(char* destination, size_t size, const char* source);

// The warning shown when the module has no handle to load its resources
// from; its one argument is the expected file name.
extern const UiText LoadFailureFormat;

// Frees every text UiString converted; at unload only.
void ReleaseUiStrings();

// The browser's status line (nothing without a browser).
void NPN_Status(NPP instance, const char* message);

// The guard RunCommand takes: the record (and the library) stay until the
// outermost EndModalUse, which finishes an NPP_Destroy that came meanwhile;
// the caller must not touch the record after EndModalUse.
void BeginModalUse(PluginInstance* record);
void EndModalUse(PluginInstance* record);

// NPP_ functions placed in the browser's table.
NPError NPP_New(NPMIMEType pluginType, NPP instance, uint16_t mode, int16_t argc, char* argn[], char* argv[],
                NPSavedData* saved);
NPError NPP_Destroy(NPP instance, NPSavedData** save);
NPError NPP_SetWindow(NPP instance, NPWindow* window);
NPError NPP_NewStream(NPP instance, NPMIMEType type, NPStream* stream, NPBool seekable, uint16_t* stype);
NPError NPP_DestroyStream(NPP instance, NPStream* stream, NPReason reason);
void NPP_StreamAsFile(NPP instance, NPStream* stream, const char* fname);
int32_t NPP_WriteReady(NPP instance, NPStream* stream);
int32_t NPP_Write(NPP instance, NPStream* stream, int32_t offset, int32_t len, void* buffer);
void NPP_Print(NPP instance, NPPrint* platformPrint);
void NPP_URLNotify(NPP instance, const char* url, NPReason reason, void* notifyData);
NPError NPP_SetValue(NPP instance, int variable, void* value);

// A level over this size finer than the view's does not stay after a
// command (it gives way to the view's again), and a command's level from a
// decoder over it stays in the decoder's section.
enum { KeptFullPictureBytes = 4 << 20 };

// Frees every block of a record, then the record itself. Only for a record
// no decode reads any more (instance_lifecycle.cpp).
void ReleaseRecord(PluginInstance* record);
// Frees the stream's address and bytes (stream.cpp), for ReleaseRecord.
void FreeReception(PluginInstance* record);

// The picture part of the record (picture_levels.cpp). Every store is a
// release store, so a reader on the other thread that loads a field with
// acquire sees what was published before it.
// UI thread, before a new stream (no decode runs): drops the image, the
// preview, the level waiting, the comments and the failure of the last one.
void ClearPicture(PluginInstance* record);
// UI thread: a command starts or ends using dib as the full picture;
// DropPictureHold gives the holds left.
void HoldPicture(PluginInstance* record);
int DropPictureHold(PluginInstance* record);
// For ReleaseRecord: frees the picture's blocks.
void FreePicture(PluginInstance* record);
// On a worker: the file's kind; the picture's size and the size shown; the
// levels the codestream holds and the sample cap's; the preview.
void PublishFileKind(PluginInstance* record, int kind);
void PublishPictureSize(PluginInstance* record, const DecodePlan* plan);
void PublishLevelRange(PluginInstance* record, const DecodePlan* plan, int fullReduce);
void PublishPreview(PluginInstance* record, uint8_t* preview);
// A decoded level: the first goes straight into dib (1); a later one waits
// in nextLevel for the UI thread, which may be painting dib (0).
int PublishLevel(PluginInstance* record, uint8_t* dib, int reduce);
// Why a larger level was given up (a DecodeFailure value).
void PublishLevelFailure(PluginInstance* record, int failure);
// A command's level left in a decoder's section (taken over), at `reduce`;
// the level shown stays. UI thread, once no command holds the picture:
// DropFullSection closes it.
void PublishFullSection(PluginInstance* record, PictureSection* section, int reduce);
void DropFullSection(PluginInstance* record);
// The outcome of the file's decode (`failure` a DecodeFailure value): the
// comments (malloc'ed, taken over) when it succeeded, else the failure.
void PublishEnd(PluginInstance* record, int failure, uint8_t* comments, uint32_t commentsLength);
// Why the file failed (a DecodeFailure value or FailureInterrupted; 0 gives
// none), kept when `keepEarlier` and a reason was given before; the second
// also publishes that it failed.
void NoteFailureReason(PluginInstance* record, int32_t reason, int keepEarlier);
void PublishFailure(PluginInstance* record, int32_t reason, int keepEarlier);

// The pictures of the file (picture_sequence.cpp). On a worker: what the
// plan job found (count, pages, the shown one's duration, loops) and what a
// level job left out (ComposeNote* flags). UI thread, before a new stream:
// back to the first picture.
void PublishSequence(PluginInstance* record, const ComposedPicture* composed);
void PublishSequenceNotes(PluginInstance* record, uint32_t notes);
void ResetSequence(PluginInstance* record);
// UI thread: the file is planned and decoded again, for the picture the
// sequence now names, as after its stream ended (the table's new stream and
// stream end, over the bytes the file already has); 0 unless the record is
// settled (no job queued or running).
int QueuePictureDecode(PluginInstance* record);

// The stream's side of the decode pipeline (UI thread): a new stream is
// taken (0: refused, the record is going), dropping a queued job and killing
// a running one, which then keeps `file` (the last file's view, taken over)
// until it ends; bytes may be stored (0: the stream is not open); the stream
// ended, and its decode is queued (0: no decode thread could be started for
// it); the stream broke.
int OpenStreamDecode(PluginInstance* record, BytesView* file);
int MayStoreBytes(PluginInstance* record);
int QueueDecode(PluginInstance* record);
void NoteStreamBroken(PluginInstance* record);

// On a worker, inside the record's running job: runs `job` (its kind, file
// kind, level and region filled) through RunDecodeJob on the bytes the job
// was queued with, with the codec threads and memory it was admitted with,
// cancelled when the record's instance goes. 1 when it gave its result.
int RunRecordJob(PluginInstance* record, DecodeJob* job, DecodeJobResult* resultOut);

// On a worker, in every function that publishes a job's findings into the
// record: 1, with the queue's lock held until EndJobPublish, while the
// pipeline's table lets the record's running job publish; 0, holding
// nothing, once a new stream killed it (whatever it found is then dropped by
// the caller, which still owns it).
int BeginJobPublish(PluginInstance* record);
void EndJobPublish(PluginInstance* record);

// Queues a decode of the part of the picture the view wants (UI thread),
// unless the record already waits or is being decoded: its part is then
// taken when that job ends.
void QueueRegionDecode(PluginInstance* record);

// Region jobs (region_view.cpp), for the decode queue: whether a part is
// wanted and its size in full-resolution pixels and level (under the
// queue's lock), decoding it (on a worker, which then posts to the window),
// and freeing the parts of a record no decode reads.
int RegionJobWanted(PluginInstance* record);
void WantedRegionExtent(const PluginInstance* record, uint32_t* widthOut, uint32_t* heightOut, int32_t* reduceOut);
void RunRegionJob(PluginInstance* record);
void ReleaseRegionBitmaps(PluginInstance* record);
// For a command waiting for the level `reduce` (UI thread; 0 for the full
// picture, which is then the picture's fullReduce): its decode goes ahead of
// the views' levels until EndCommandWait. `aside`: the command reads the
// level through views, so a large one from a decoder stays in its section
// (PublishFullSection) and the level shown stays.
void QueueCommandLevel(PluginInstance* record, int reduce, int aside);
void EndCommandWait(PluginInstance* record);
// UI thread, once no command holds the full picture: when the view needs a
// coarser level than the one decoded, that level is decoded again and waits
// in nextLevel like any other; nothing when a job of the record is queued or
// runs, or its view size is not known.
void QueueViewLevel(PluginInstance* record);

// Pictures while a file arrives (partial_picture.cpp). After each
// NPP_Write: asks for a prefix job when enough new data is there and the
// last one is long enough ago; at the end of an interrupted stream
// (`lastChance`) whenever more is there. On the worker: runs it; 1 when it
// published a picture. Frees the pictures (no prefix job may run).
void ConsiderPartialDecode(PluginInstance* record, int lastChance);
// A block written below the end may fill a gap the measure of the decodable
// part read as zeros: it measures from the start again.
void ForgetPrefixMeasure(PluginInstance* record);
int RunPartialStage(PluginInstance* record);
void ReleasePartialPictures(PluginInstance* record);

// The decode queue's side of prefix jobs (UI thread). Asks for one as the
// request says over `bytes`, a view of the received bytes it takes over
// (released now when the table wants none: one is queued or runs, except
// that the last one of a broken stream then follows it); 0 then.
int QueuePrefixDecode(PluginInstance* record, const PrefixRequest* request, BytesView* bytes);

// The bytes received so far (stream.cpp, UI thread): in one block in place,
// from the store while the stream arrives, else the file's view; null with
// *lengthOut 0 when there are none. A view of the first `length` of them
// for a decode, whatever the store does meanwhile; 0 without address space.
const uint8_t* ReceivedSoFar(const PluginInstance* record, uint32_t* lengthOut);
int TakeReceivedView(BytesView* viewOut, const PluginInstance* record, uint32_t length);

// For NPP_Destroy: takes a waiting record out of the queue at once (0: the
// caller releases it), or hands a record being decoded to its decode thread
// (1: the thread releases it when its job ends).
int LeaveDecodeQueue(PluginInstance* record);

#endif
