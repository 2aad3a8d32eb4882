// The file-drop block byte for byte, the data object, its format enumerator, the drop
// source, and the toolkit adapter that serves the block as URLs.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>

#include "page/clipbrd_files.h"
#include "page/data_obj.h"
#include "page/file_mime_data.h"
#include "test_result_list_qt_app.h"

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

std::vector<uint8_t> Text(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

FORMATETC DropFormat() { return {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL}; }

}  // namespace

TEST(FileDropBlock, DragBlockForPathsOfEightAndFourCharacters) {
  HGLOBAL block = BuildFileDropBlock({"/tmp/a.b", "/x/y"}, 100, 100, true, kDragBlockFlags);
  ASSERT_TRUE(block);
  const std::vector<uint8_t> expected = Concat({
      Bytes({20, 0, 0, 0}),              // offset of the file list
      Bytes({100, 0, 0, 0}),             // drop point x
      Bytes({100, 0, 0, 0}),             // drop point y
      Bytes({0xFF, 0xFF, 0xFF, 0xFF}),   // non-client flag: all bits set
      Bytes({0, 0, 0, 0}),               // 8-bit names
      Text("/tmp/a.b"), Bytes({0}),      // 20 + 9
      Text("/x/y"), Bytes({0}),          // + 5
      Bytes({0}),                        // + 1 = 35
  });
  EXPECT_EQ(block->Data(), expected);
  EXPECT_EQ(block->Size(), 35u);
  EXPECT_EQ(block->AllocFlags(), 0x2042u);
  EXPECT_EQ(block->Locks(), 0) << "the block is left unlocked";
}

TEST(FileDropBlock, ClipboardHeaderAndRoundTrip) {
  const std::vector<std::string> paths{"\\\\srv\\share\\r\xE9sum\xE9.txt", "/home/ann/a b.txt"};
  HGLOBAL block = BuildFileDropBlock(paths, 0, 0, false, kClipboardBlockFlags);
  ASSERT_TRUE(block);
  const std::vector<uint8_t> header(block->Data().begin(), block->Data().begin() + 20);
  EXPECT_EQ(header, Bytes({20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(block->AllocFlags(), 0x0042u);
  EXPECT_EQ(ReadFileDropBlock(*block), paths);
}

TEST(FileDropBlock, PathWithZeroByteIsRefusedRatherThanSplit) {
  EXPECT_FALSE(BuildFileDropBlock({std::string("/a\0/b", 5)}, 0, 0, false, kClipboardBlockFlags));
}

TEST(DataObject, GetDataRendersAFreshBlockThatTheReceiverOwns) {
  TComPtr<IDataObject> data = TDataObject::Create({"/a", "/bc"}, true, 100, 100);
  const FORMATETC format = DropFormat();
  STGMEDIUM first;
  STGMEDIUM second;
  ASSERT_EQ(data->GetData(&format, &first), S_OK);
  ASSERT_EQ(data->GetData(&format, &second), S_OK);
  EXPECT_EQ(first.tymed, TYMED_HGLOBAL);
  EXPECT_EQ(first.pUnkForRelease, nullptr);
  ASSERT_TRUE(first.hGlobal && second.hGlobal);
  EXPECT_NE(first.hGlobal.get(), second.hGlobal.get());
  EXPECT_EQ(first.hGlobal->Data(), second.hGlobal->Data());
  EXPECT_EQ(ReadFileDropBlock(*first.hGlobal), (std::vector<std::string>{"/a", "/bc"}));
  EXPECT_EQ(first.hGlobal->AllocFlags(), kDragBlockFlags);
}

struct FormatCase {
  const char* what;
  uint16_t cf;
  uint32_t aspect;
  uint32_t tymed;
  HRESULT result;
};

class DataObjectFormats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(DataObjectFormats, OnlyTheExactFileDropFormatIsServed) {
  const FormatCase& c = GetParam();
  TComPtr<IDataObject> data = TDataObject::Create({"/a"}, false, 0, 0);
  const FORMATETC format{c.cf, nullptr, c.aspect, -1, c.tymed};
  EXPECT_EQ(data->QueryGetData(&format), c.result) << c.what;
  STGMEDIUM medium;
  medium.tymed = 77;
  EXPECT_EQ(data->GetData(&format, &medium), c.result) << c.what;
  if (c.result != S_OK) {
    EXPECT_EQ(medium.tymed, 0u) << "the medium is zeroed first";
    EXPECT_FALSE(medium.hGlobal);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Media, DataObjectFormats,
    ::testing::Values(FormatCase{"exact", CF_HDROP, DVASPECT_CONTENT, TYMED_HGLOBAL, S_OK},
                      FormatCase{"file medium", CF_HDROP, DVASPECT_CONTENT, 2, DV_E_FORMATETC},
                      FormatCase{"global or file", CF_HDROP, DVASPECT_CONTENT, TYMED_HGLOBAL | 2, DV_E_FORMATETC},
                      FormatCase{"thumbnail aspect", CF_HDROP, 2, TYMED_HGLOBAL, DV_E_FORMATETC},
                      FormatCase{"text", 1, DVASPECT_CONTENT, TYMED_HGLOBAL, DV_E_FORMATETC}));

TEST(DataObject, EmptyListAndUnsupportedCallsAreRefused) {
  TComPtr<IDataObject> empty = TDataObject::Create({}, false, 0, 0);
  const FORMATETC format = DropFormat();
  STGMEDIUM medium;
  EXPECT_EQ(empty->GetData(&format, &medium), DV_E_FORMATETC);
  EXPECT_EQ(empty->GetDataHere(&format, &medium), DV_E_FORMATETC);
  EXPECT_EQ(empty->SetData(&format, &medium, true), E_NOTIMPL);
  FORMATETC canonical = format;
  int device = 0;
  canonical.ptd = &device;
  EXPECT_EQ(empty->GetCanonicalFormatEtc(&format, &canonical), E_NOTIMPL);
  EXPECT_EQ(canonical.ptd, nullptr);
  uint32_t connection = 0;
  EXPECT_EQ(empty->DAdvise(&format, 0, nullptr, &connection), OLE_E_ADVISENOTSUPPORTED);
  EXPECT_EQ(empty->DUnadvise(1), OLE_E_ADVISENOTSUPPORTED);
  IUnknown* sinks = empty.Get();
  EXPECT_EQ(empty->EnumDAdvise(&sinks), OLE_E_ADVISENOTSUPPORTED);
  EXPECT_EQ(sinks, nullptr);
}

TEST(DataObject, AnswersOnlyItsOwnInterfaces) {
  TComPtr<IDataObject> data = TDataObject::Create({"/a"}, false, 0, 0);
  void* out = nullptr;
  ASSERT_EQ(data->QueryInterface(TInterfaceId::IUnknown, &out), S_OK);
  EXPECT_EQ(out, data.Get());
  static_cast<IUnknown*>(out)->Release();
  EXPECT_EQ(data->QueryInterface(TInterfaceId::IDropSource, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(data->AddRef(), 2u);
  EXPECT_EQ(data->Release(), 1u);
}

TEST(EnumFormatEtc, YieldsExactlyOneEntry) {
  TComPtr<IDataObject> data = TDataObject::Create({"/a"}, false, 0, 0);
  TComPtr<IEnumFORMATETC> formats;
  EXPECT_EQ(data->EnumFormatEtc(2, formats.Receive()), E_NOTIMPL);
  EXPECT_FALSE(formats);
  ASSERT_EQ(data->EnumFormatEtc(DATADIR_GET, formats.Receive()), S_OK);

  FORMATETC entries[2];
  uint32_t fetched = 9;
  EXPECT_EQ(formats->Next(2, entries, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(entries[0].cfFormat, CF_HDROP);
  EXPECT_EQ(entries[0].lindex, -1);
  EXPECT_EQ(entries[0].tymed, TYMED_HGLOBAL);
  EXPECT_EQ(formats->Next(1, entries, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  EXPECT_EQ(formats->Reset(), S_OK);
  EXPECT_EQ(formats->Next(1, entries, nullptr), S_OK);
}

TEST(EnumFormatEtc, SkipAndClone) {
  TComPtr<IEnumFORMATETC> fresh = TEnumFormatEtc::Create(kFileDropFormats, 0, 1);
  EXPECT_EQ(fresh->Skip(2), S_FALSE);
  FORMATETC entry;
  uint32_t fetched = 9;
  EXPECT_EQ(fresh->Next(1, &entry, &fetched), S_FALSE) << "Skip(2) left it at the end";
  EXPECT_EQ(fetched, 0u);

  fresh->Reset();
  EXPECT_EQ(fresh->Skip(1), S_OK);
  TComPtr<IEnumFORMATETC> copy;
  ASSERT_EQ(fresh->Clone(copy.Receive()), S_OK);
  EXPECT_EQ(static_cast<TEnumFormatEtc*>(copy.Get())->Position(), 1u);
  copy->Reset();
  EXPECT_EQ(static_cast<TEnumFormatEtc*>(fresh.Get())->Position(), 1u) << "a clone moves on its own";
}

TEST(FileSource, ContinueDropCancelAndCursors) {
  TComPtr<IDropSource> source = TFileSource::Create();
  EXPECT_EQ(source->QueryContinueDrag(true, MK_LBUTTON), DRAGDROP_S_CANCEL);
  EXPECT_EQ(source->QueryContinueDrag(false, MK_LBUTTON | 8), S_OK);
  EXPECT_EQ(source->QueryContinueDrag(false, 2), DRAGDROP_S_DROP);
  for (uint32_t effect : {DROPEFFECT_NONE, DROPEFFECT_COPY, DROPEFFECT_LINK, DROPEFFECT_SCROLL})
    EXPECT_EQ(source->GiveFeedback(effect), DRAGDROP_S_USEDEFAULTCURSORS) << effect;
  for (uint32_t effect : {2u, 3u, DROPEFFECT_SCROLL | DROPEFFECT_COPY})
    EXPECT_EQ(source->GiveFeedback(effect), S_OK) << effect;
}

TEST(FileMimeData, ServesLocalAndUncNamesAsUrlsAndCopiesAsPlainNames) {
  EnsureResultListApp();
  TFileMimeData drag(TDataObject::Create({"/home/ann/a b#1.txt", "\\\\srv\\Share\\dir\\x%.txt"}, true, 100, 100),
                     TFileMimeData::TPurpose::Drag);
  EXPECT_EQ(drag.formats(), QStringList{"text/uri-list"});
  EXPECT_FALSE(drag.hasFormat("text/plain"));
  EXPECT_EQ(drag.data("text/uri-list"),
            QByteArray("file:///home/ann/a%20b%231.txt\r\nsmb://srv/Share/dir/x%25.txt\r\n"));
  const QList<QUrl> urls = drag.urls();
  ASSERT_EQ(urls.size(), 2);
  EXPECT_EQ(urls[0].toLocalFile(), QString("/home/ann/a b#1.txt"));
  EXPECT_EQ(urls[1].path(), QString("/Share/dir/x%.txt"));

  TFileMimeData copy(BuildFileDropBlock({"/a", "/b"}, 0, 0, false, kClipboardBlockFlags),
                     TFileMimeData::TPurpose::ClipboardCopy);
  EXPECT_TRUE(copy.hasFormat("x-special/gnome-copied-files"));
  EXPECT_EQ(copy.data("x-special/gnome-copied-files"), QByteArray("copy\nfile:///a\nfile:///b"));
  EXPECT_EQ(copy.formats(), (QStringList{"text/uri-list", "x-special/gnome-copied-files", "text/plain;charset=utf-8",
                                         "text/plain"}));
  EXPECT_EQ(copy.text(), QStringLiteral("/a\n/b")) << "names, not links";
}

TEST(CopyFilesToClipboard, EmptyListLeavesTheClipboardAlone) {
  EnsureResultListApp();
  QGuiApplication::clipboard()->setText("kept");
  EXPECT_TRUE(CopyFilesToClipboard({}));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString("kept"));
  EXPECT_TRUE(CopyFilesToClipboard({"/x y"}));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("/x y")) << "the plain name";
}
