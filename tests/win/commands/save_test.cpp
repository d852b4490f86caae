// "Save Image As" through the real common Save As dialog: the suggested
// name, the filter list per kind of file, both file forms, and the warnings.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "commands/commands.h"
#include "commands/save_image.h"
#include "decode/jpeg2000.h"
#include "test_instances.h"
#include "ui_driver.h"

namespace {

// Step: the dialog asks whether to replace the existing file: answer Yes.
bool ConfirmReplace() {
    HWND question = FindThreadWindow("#32770", SaveDialogCaption(), MessageBoxTextId);
    if (question == nullptr) return false;
    PostMessageA(question, WM_COMMAND, IDYES, 0);
    return true;
}

class SaveImage : public ::testing::Test {
protected:
    void SetUp() override {
        instance = NewTestInstance(CreateOwnerWindow());
        LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, "p0_09.j2k");
    }
    void TearDown() override { FreeTestInstance(instance); }

    // Runs the command with the dialog answered and any warnings collected.
    int Save(SaveDialogView* view, int filterIndex, const std::string& path, std::vector<std::string>* messages) {
        return RunModal([&] { SaveImageAs(instance); },
                        {AnswerSaveDialog(view, filterIndex, path), AnswerPluginMessage(messages),
                         AnswerPluginMessage(messages)},
                        4000);
    }
    PluginInstance* instance = nullptr;
};

TEST_F(SaveImage, ReceivedFileIsWrittenByteForByte) {
    std::string path = TempPath("saved_received.j2k");
    DeleteFileA(path.c_str());
    char directoryBefore[MAX_PATH], directoryAfter[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, directoryBefore);
    SaveDialogView view;
    std::vector<std::string> messages;
    EXPECT_EQ(Save(&view, 1, path, &messages), 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(view.suggestedName, "p0_09.j2k");
    // Saving into another directory leaves the browser's current one alone.
    GetCurrentDirectoryA(MAX_PATH, directoryAfter);
    EXPECT_STREQ(directoryAfter, directoryBefore);
    std::vector<unsigned char> expected(instance->reception.file.data,
                                        instance->reception.file.data + instance->reception.file.length);
    EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(SaveImage, BitmapFilterWritesHeaderAndPackedDib) {
    const char* names[] = {"p0_09.j2k", "file1.jp2"};  // grey with palette, colour without
    for (const char* name : names) {
        SCOPED_TRACE(name);
        FreeTestInstance(instance);
        instance = NewTestInstance(CreateOwnerWindow());
        LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, name);
        std::string path = TempPath("saved_bitmap.bmp");
        DeleteFileA(path.c_str());
        SaveDialogView view;
        std::vector<std::string> messages;
        EXPECT_EQ(Save(&view, 2, path, &messages), 1);
        EXPECT_TRUE(messages.empty());
        std::vector<unsigned char> written = FileBytes(path);
        ASSERT_EQ(written, BitmapFileOf(instance->picture.dib));
        EXPECT_EQ(written[0], 'B');
        EXPECT_EQ(written[1], 'M');
        EXPECT_EQ(Le32(&written[2]), written.size());
        uint32_t palette = instance->picture.dibHeader->biBitCount == 8 ? 1024u : 0u;
        EXPECT_EQ(Le32(&written[10]), 54u + palette);
    }
}

TEST_F(SaveImage, FilterListAndDefaultExtensionFollowTheFileKind) {
    struct KindCase {
        int fileKind;
        const char* extension;
        std::vector<std::string> english;
        std::vector<std::string> japanese;
    };
    const std::vector<KindCase> cases = {
        {FileKindCodestream, "j2k", {"JPEG 2000 Code Stream <ISO 15444-1> (*.j2k)", "Bitmap File(*.bmp)"},
         {"JPEG 2000 コードストリーム <ISO 15444-1> (*.j2k)", "ビットマップ(*.bmp)"}},
        {FileKindJp2, "jp2", {"JP2 File <ISO 15444-1> (*.jp2)", "Bitmap File(*.bmp)"},
         {"JP2 ファイル <ISO 15444-1> (*.jp2)", "ビットマップ(*.bmp)"}},
        {FileKindJpx, "jpx", {"JP2 Extentions File <ISO 15444-2>(*.jpx)", "Bitmap File(*.bmp)"},
         {"JP2 機能拡張ファイル <ISO 15444-2>(*.jpx)", "ビットマップ(*.bmp)"}},
        {FileKindMj2, "mj2", {"Motion JPEG 2000 File <ISO 15444-3>(*.mj2)", "Bitmap File(*.bmp)"},
         {"Motion JPEG 2000 ファイル <ISO 15444-3>(*.mj2)", "ビットマップ(*.bmp)"}},
        {FileKindJpm, "jpm", {"JP2 Extentions Multi Layer File <ISO 15444-6>(*.jpm)", "Bitmap File(*.bmp)"},
         {"JP2 機能拡張多層ファイル <ISO 15444-6>(*.jpm)", "ビットマップ(*.bmp)"}},
        // Never decoded: no bitmap to offer.
        {FileKindJ3d, "j3d", {"JP2 3-D Object File <ISO 15444-10>(*.j3d)"}, {"JP2 3次元立体 <ISO 15444-10>(*.j3d)"}},
        {FileKindJph, "jph", {"High-Throughput JPEG 2000 File <ISO 15444-15>(*.jph)", "Bitmap File(*.bmp)"},
         {"高スループット JPEG 2000 ファイル <ISO 15444-15>(*.jph)", "ビットマップ(*.bmp)"}},
        {FileKindInvalid, "j2k", {"JPEG 2000?(*.j2k)"}, {"JPEG 2000?(*.j2k)"}},
        {FileKindUnclassified, "j2k", {"JPEG 2000?(*.j2k)"}, {"JPEG 2000?(*.j2k)"}},
        {4, "j2k", {"JPEG 2000?(*.j2k)"}, {"JPEG 2000?(*.j2k)"}},
    };
    for (const KindCase& kind : cases) {
        SCOPED_TRACE(kind.fileKind);
        instance->picture.fileKind = kind.fileKind;
        // A name typed without extension gets the kind's default one.
        std::string stem = TempPath("kind_default");
        std::string expectedPath = stem + "." + kind.extension;
        DeleteFileA(expectedPath.c_str());
        SaveDialogView view;
        std::vector<std::string> messages;
        EXPECT_EQ(Save(&view, 0, stem, &messages), 1);
        EXPECT_EQ(view.filters, IsJapaneseUi() ? kind.japanese : kind.english);
        EXPECT_EQ(view.selectedFilter, 0);
        EXPECT_TRUE(FileExists(expectedPath));
        DeleteFileA(expectedPath.c_str());
    }
}

TEST_F(SaveImage, UnknownKindAlwaysWritesTheReceivedFile) {
    instance->picture.fileKind = FileKindUnclassified;
    std::string path = TempPath("unknown_kind.j2k");
    DeleteFileA(path.c_str());
    SaveDialogView view;
    std::vector<std::string> messages;
    EXPECT_EQ(Save(&view, 0, path, &messages), 1);
    std::vector<unsigned char> expected(instance->reception.file.data,
                                        instance->reception.file.data + instance->reception.file.length);
    EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(SaveImage, IncompleteStreamIsRefusedBeforeAnyDialog) {
    const int states[] = {LoadStateWaiting, LoadStateReceiving};
    for (int state : states) {
        instance->reception.loadState = state;
        std::vector<std::string> messages;
        EXPECT_EQ(RunModal([&] { SaveImageAs(instance); }, {AnswerPluginMessage(&messages)}), 1);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], IsJapaneseUi() ? "画像がロードされていないためセーブできません"
                                              : "Cannot save: the image has not been loaded");
        EXPECT_EQ(FindThreadWindow("#32770", SaveDialogCaption()), nullptr);
    }
}

// A stream that ended early is said to be so before the dialog; what
// arrived is then saved as it is.
TEST_F(SaveImage, InterruptedStreamIsSaidBeforeTheDialog) {
    struct InterruptedCase {
        int32_t announced;
        const char* english;
        const char* japanese;
    };
    const InterruptedCase cases[] = {
        {1000, "The download was interrupted: 594 of 1000 bytes arrived. Save the bytes that arrived?",
         "ダウンロードが中断されました (594 / 1000 バイト受信)。受信した分を保存しますか?"},
        {0, "The download was interrupted after 594 bytes. Save the bytes that arrived?",
         "ダウンロードが 594 バイトで中断されました。受信した分を保存しますか?"},
    };
    for (const InterruptedCase& c : cases) {
        instance->reception.announcedLength = c.announced;
        instance->picture.failureReason = FailureInterrupted;
        std::string path = TempPath("interrupted.j2k");
        DeleteFileA(path.c_str());
        SaveDialogView view;
        std::vector<std::string> messages;
        EXPECT_EQ(RunModal([&] { SaveImageAs(instance); },
                           {AnswerPluginMessage(&messages), AnswerSaveDialog(&view, 1, path)}, 4000),
                  2);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], ExpectedText(c.english, c.japanese));
        EXPECT_EQ(FileBytes(path), std::vector<unsigned char>(
                                 instance->reception.file.data,
                                 instance->reception.file.data + instance->reception.file.length));
    }
}

// On a disk that fills up part way (a small tmpfs the test's runner mounts,
// full_disk.sh), the old file keeps its bytes and no temporary file is left;
// a file that fits replaces it.
TEST_F(SaveImage, FullDiskKeepsTheOldFile) {
    const char* disk = getenv("NPKAVREL_FULL_DISK");
    if (disk == nullptr) GTEST_SKIP() << "runs through full_disk.sh, which mounts a small disk";
    struct DiskCase {
        const char* image;
        int filterIndex;
        bool fits;
    };
    const DiskCase cases[] = {{"file1.jp2", 1, false}, {"file1.jp2", 2, false}, {"p0_09.j2k", 1, true}};
    std::string path = std::string(disk) + "\\old.j2k";
    for (const DiskCase& c : cases) {
        SCOPED_TRACE(c.image + std::to_string(c.filterIndex));
        FreeTestInstance(instance);
        instance = NewTestInstance(CreateOwnerWindow());
        LOAD_CONFORMANCE_IMAGE_OR_SKIP(instance, c.image);
        // Half the disk holds the old file; the new one needs more than the rest.
        std::vector<uint8_t> old(512 * 1024, 0x5A);
        ASSERT_TRUE(WriteFileBytes(path, old));
        SaveDialogView view;
        std::vector<std::string> messages;
        EXPECT_EQ(RunModal([&] { SaveImageAs(instance); },
                           {AnswerSaveDialog(&view, c.filterIndex, path), ConfirmReplace,
                            AnswerPluginMessage(&messages)},
                           c.fits ? 2000 : 4000),
                  c.fits ? 2 : 3);
        std::vector<uint8_t> expected =
            c.filterIndex == 2 ? BitmapFileOf(instance->picture.dib) : FileBytes(ConformancePath(c.image));
        EXPECT_EQ(FileBytes(path), c.fits ? expected : old);
        EXPECT_EQ(messages, c.fits ? std::vector<std::string>()
                                   : std::vector<std::string>{ExpectedText("Error writing file",
                                                                           "ファイル書き込み中にエラーが発生しました")});
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((std::string(disk) + "\\*.part").c_str(), &found);
        EXPECT_EQ(search, INVALID_HANDLE_VALUE) << found.cFileName;
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }
}

TEST_F(SaveImage, CancelWritesNothingAndSaysNothing) {
    SaveDialogView view;
    std::vector<std::string> messages;
    std::string probe = TempPath("p0_09.j2k");
    DeleteFileA(probe.c_str());
    EXPECT_EQ(Save(&view, 0, "", &messages), 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(FileExists(probe));
}

TEST_F(SaveImage, FileThatCannotBeCreatedIsReported) {
    std::string path = TempPath("locked.j2k");
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SaveDialogView view;
    std::vector<std::string> messages;
    RunModal([&] { SaveImageAs(instance); },
             {AnswerSaveDialog(&view, 1, path), ConfirmReplace, AnswerPluginMessage(&messages)}, 4000);
    CloseHandle(holder);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], IsJapaneseUi() ? "ファイルに書き込めません" : "Unable to write file");
    DeleteFileA(path.c_str());
}

// A bitmap needs an image: without one the user is told why (the decode's
// reason: nothing was written) and no file (not even an empty header) is
// left behind; an existing file stays as it was.
TEST_F(SaveImage, BitmapWithoutImageSaysWhyAndLeavesNoFile) {
    FailTestDecode(instance);
    instance->picture.failureReason = DecodeFailureCorrupt;
    std::string path = TempPath("no_image.bmp");
    DeleteFileA(path.c_str());
    SaveDialogView view;
    std::vector<std::string> messages;
    EXPECT_EQ(Save(&view, 2, path, &messages), 2);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], ExpectedText("The full picture could not be prepared: damaged or truncated.",
                                        "元の大きさの画像を用意できませんでした: ファイルが壊れているか、途中で切れています。"));
    EXPECT_FALSE(FileExists(path));
}

// An address whose file is named in its query: the dialog opens with a name
// it takes, and saves there.
TEST_F(SaveImage, AddressWithAQuerySuggestsAValidName) {
    SetTestUrl(instance, "http://h.example/get.php?f=a.jp2");
    std::string path = TempPath("query.j2k");
    DeleteFileA(path.c_str());
    SaveDialogView view;
    std::vector<std::string> messages;
    EXPECT_EQ(Save(&view, 1, path, &messages), 1);
    EXPECT_EQ(view.suggestedName, "a.jp2");
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(FileExists(path));
    DeleteFileA(path.c_str());
}

TEST(SuggestSaveName, NamesTheFileWithCharactersANameCanHold) {
    struct NameCase {
        const char* url;
        const wchar_t* name;
    };
    const NameCase cases[] = {
        {"http://h.example/get.php?f=a.jp2", L"a.jp2"},
        {"http://h.example/dir/photo.jp2?id=3#top", L"photo.jp2"},
        {"http://h.example/show?file=x/y/b.j2k&size=2", L"b.j2k"},
        {"http://h.example/a|b<c>.jp2", L"a_b_c_.jp2"},
        {"http://h.example/x\"*.jp2", L"x__.jp2"},
        {"http://h.example/page.html?id=3", L""},
        {"file:scan.MJ2#frame", L"scan.MJ2"},
    };
    for (const NameCase& nameCase : cases) {
        wchar_t name[MAX_PATH];
        SuggestSaveName(name, MAX_PATH, nameCase.url);
        EXPECT_STREQ(name, nameCase.name) << nameCase.url;
    }
}

TEST(FileNameFromUrl, TakesTheLastSegmentOfJpeg2000Names) {
    struct NameCase {
        const char* url;
        const char* name;
    };
    const std::string longName = "http://h.example/" + std::string(300, 'x') + ".jp2";
    const NameCase cases[] = {
        {"http://h.example/dir/Photo.JP2", "Photo.JP2"},
        {"http://h.example/dir/photo.jp2?id=3", ""},
        {"http://h.example/dir/photo.png", ""},
        {"http://h.example/dir.jp2/", ""},
        {"j2k", "j2k"},
        {"C:\\images\\scan.j2c", "scan.j2c"},
        {"file:scan.MJ2", "scan.MJ2"},
        {"http://h.example/a.b/c.jpm", "c.jpm"},
        {"http://h.example/x.m2c", "x.m2c"},
        {"http://h.example/x.jp", ""},
        {"", ""},
    };
    for (const NameCase& nameCase : cases) {
        char name[260];
        strcpy(name, "garbage");
        FileNameFromUrl(name, nameCase.url);
        EXPECT_STREQ(name, nameCase.name) << nameCase.url;
    }
    char name[260];
    FileNameFromUrl(name, longName.c_str());
    EXPECT_EQ(strlen(name), 259u);
    EXPECT_EQ(std::string(name), (std::string(300, 'x') + ".jp2").substr(0, 259));
}

}  // namespace
