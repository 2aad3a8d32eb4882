// The result file: its bytes, its reader's tolerance and refusals, and replacing the
// target only when the whole file has been written.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "os/atomic_file.h"
#include "results/lan_error.h"
#include "results/result_file.h"
#include "results/result_manager.h"
#include "test_result_file_fixture.h"

namespace {

// The signature, written out byte by byte.
std::string ExpectedSignature() {
  std::string bytes(128, '\0');
  bytes[0] = '\xEA';
  bytes[1] = '\x6B';
  // bytes[2] = 0x00
  bytes.replace(3, 6, "ZOVUZE");  // 3..8
  // 9..15 = 0x00
  bytes[16] = '\x01';
  // 17..125 = 0x00
  bytes[126] = '\xFF';
  bytes[127] = '\xFF';
  return bytes;
}

std::string ExpectedRecord(const std::string& fullName, const std::string& dateTimeLE,
                           const std::string& sizeLE, const std::string& attrLE) {
  std::string record = fullName;
  record.resize(512, '\0');
  return record + dateTimeLE + sizeLE + attrLE;
}

// Something to save; it may be long enough to take several buffers to write.
void FillStore(TResultManager& store, int count) {
  for (int i = 0; i < count; ++i) {
    AddOne(store, MakeResult("/data/", "file" + std::to_string(i) + ".txt", i, 45000.0 + i));
  }
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const TLanError& error) {
    return error.what();
  }
  return "(no error)";
}

}  // namespace

TEST(ResultFileBytes, EmptyStoreIsTheSignatureAlone) {
  TTempFolder folder;
  TResultManager store;
  store.SaveToFile(folder / "empty.dat");
  EXPECT_EQ(ReadBytes(folder / "empty.dat"), ExpectedSignature());

  AddOne(store, MakeResult("/x/", "stale"));
  store.LoadFromFile(folder / "empty.dat");
  EXPECT_EQ(store.Count(), 0u);
}

TEST(ResultFileBytes, RecordLayout) {
  TTempFolder folder;
  TResultManager store;
  AddOne(store, MakeResult("C:\\Dir\\", "a.txt", 1234, 45000.5, 0x21));
  store.SaveToFile(folder / "one.dat");
  EXPECT_EQ(ReadBytes(folder / "one.dat"),
            ExpectedSignature() + ExpectedRecord("C:\\Dir\\a.txt",
                                                 std::string("\x00\x00\x00\x00\x10\xF9\xE5\x40", 8),
                                                 std::string("\xD2\x04\x00\x00", 4),   // 1234
                                                 std::string("\x21\x00\x00\x00", 4)));  // RA
}

TEST(ResultFileBytes, LargeSizesKeepLowBitsInFieldAndHighBitsAfterName) {
  TStoredResult stored;
  TSearchResult result = *MakeResult("/d/", "big", (int64_t{5} << 32) + 7);
  stored.AssignResult(result);
  // Field: low 32 bits; bytes 7..10 (after "/d/big" and its terminator): high 32 bits.
  EXPECT_EQ(std::memcmp(&stored.FileRecord[520], "\x07\x00\x00\x00", 4), 0);
  EXPECT_EQ(std::memcmp(&stored.FileRecord[6], "\x00\x05\x00\x00\x00\x00", 6), 0);

  // A size below 4 GiB writes exactly the plain format: nothing after the terminator.
  result.Size = int64_t{3} << 30;
  stored.AssignResult(result);
  EXPECT_EQ(std::memcmp(&stored.FileRecord[520], "\x00\x00\x00\xC0", 4), 0);
  for (size_t i = 6; i < 512; ++i) ASSERT_EQ(stored.FileRecord[i], 0) << "byte " << i;
}

struct TRoundTripCase {
  const char* label;
  std::string path;
  std::string name;
  int64_t size;
};

class ResultFileRoundTrip : public ::testing::TestWithParam<TRoundTripCase> {};

TEST_P(ResultFileRoundTrip, LoadsWhatWasSaved) {
  const TRoundTripCase& c = GetParam();
  TTempFolder folder;
  TResultManager store;
  AddOne(store, MakeResult(c.path, c.name, c.size, 44927.999976851852, 0x27));
  store.SaveToFile(folder / "r.dat");
  TResultManager loaded;
  loaded.LoadFromFile(folder / "r.dat");
  ASSERT_EQ(loaded.Count(), 1u);
  const TSearchResult& r = loaded.Item(0);
  EXPECT_EQ(*r.Path, c.path);
  EXPECT_EQ(r.Name, c.name);
  EXPECT_EQ(r.Size, c.size);
  EXPECT_EQ(r.DateTime, 44927.999976851852);
  EXPECT_EQ(r.Attr, 0x27u);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResultFileRoundTrip,
    ::testing::Values(
        TRoundTripCase{"Posix", "/home/ann/", "report.doc", 10},
        // "\" and ":" are ordinary characters in a POSIX name.
        TRoundTripCase{"PosixOddChars", "/home/ann/", "a:b\\c.txt", 10},
        TRoundTripCase{"Unc", "\\\\srv\\share\\dir\\", "a.txt", 10},
        TRoundTripCase{"DriveRelative", "C:", "a.txt", 10},
        TRoundTripCase{"NoSeparator", "", "plain.txt", 10},
        TRoundTripCase{"ThreeGiB", "/d/", "iso", int64_t{3} << 30},
        TRoundTripCase{"FiveGiB", "/d/", "disk.img", (int64_t{5} << 32) + 12345},
        TRoundTripCase{"Exactly512", "/" + std::string(500, 'p') + "/", std::string(10, 'n'), 5},
        TRoundTripCase{"507WithHighBits", "/" + std::string(495, 'p') + "/", std::string(10, 'n'),
                       (int64_t{9} << 32) + 1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResultFileBytes, TooLongForHighBitsKeepsTheLowBits) {
  // 508 bytes of name leave no room after the terminator: the format's 32 bits remain.
  TTempFolder folder;
  TResultManager store;
  AddOne(store, MakeResult("/", std::string(507, 'n'), (int64_t{5} << 32) + 3));
  store.SaveToFile(folder / "r.dat");
  store.LoadFromFile(folder / "r.dat");
  ASSERT_EQ(store.Count(), 1u);
  EXPECT_EQ(store.Item(0).Name.size(), 507u);
  EXPECT_EQ(store.Item(0).Size, 3);
}

// Another writer's leftover bytes after the name must not make a size negative, and a
// size that was never read is saved as 0, not as 4 GiB - 1.
TEST(ResultFileBytes, SizesNeverLoadNegative) {
  TStoredResult stored;
  stored.AssignResult(*MakeResult("/d/", "f", 7));
  std::array<uint8_t, kRecordSize> record = stored.FileRecord;
  std::memset(&record[5], 0xFF, 4);  // the high half, right after "/d/f" and its terminator
  stored.ReadRecord(record.data());
  EXPECT_EQ(stored.Result.Size, 7);

  stored.AssignResult(*MakeResult("/d/", "f", -1));
  stored.ReadRecord(stored.FileRecord.data());
  EXPECT_EQ(stored.Result.Size, 0);
}

// Only a regular file is read; a FIFO with no writer is refused at once, not waited on.
TEST(ResultFileLoad, RefusesAnythingButARegularFile) {
  TTempFolder folder;
  ASSERT_EQ(mkfifo((folder / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(folder / "dir");
  for (const std::string name : {"fifo", "dir"}) {
    TResultManager store;
    EXPECT_EQ(ErrorOf([&] { store.LoadFromFile(folder / name); }),
              "Can not open file \"" + (folder / name) + "\": not a regular file");
  }
}

TEST(ResultFileLoad, ReadsOnlyWholeRecordsAndSharesPaths) {
  TTempFolder folder;
  TResultManager store;
  FillStore(store, 3);
  store.SaveToFile(folder / "r.dat");
  WriteBytes(folder / "r.dat", ReadBytes(folder / "r.dat") + std::string(527, 'x'));

  TResultManager loaded;
  loaded.LoadFromFile(folder / "r.dat");
  ASSERT_EQ(loaded.Count(), 3u);
  EXPECT_EQ(loaded.Item(2).FullName(), "/data/file2.txt");
  EXPECT_EQ(loaded.Item(0).Path.get(), loaded.Item(2).Path.get());
  // The stray bytes of a cut record are said, not passed over.
  EXPECT_EQ(loaded.LoadNotice(), "The file \"" + folder / "r.dat" + "\" ends inside a record: its last 527 bytes were not loaded.");
  store.SaveToFile(folder / "r.dat");
  loaded.LoadFromFile(folder / "r.dat");
  EXPECT_EQ(loaded.LoadNotice(), "");
}

TEST(ResultFileLoad, RejectsDamagedSignatureAndLeavesStoreEmpty) {
  TTempFolder folder;
  TResultManager store;
  FillStore(store, 2);
  store.SaveToFile(folder / "good.dat");
  const std::string good = ReadBytes(folder / "good.dat");

  std::string changed = good;
  changed[16] = 2;
  WriteBytes(folder / "changed.dat", changed);
  WriteBytes(folder / "short.dat", good.substr(0, 127));

  for (const char* name : {"changed.dat", "short.dat"}) {
    const std::string fileName = folder / name;
    EXPECT_EQ(ErrorOf([&] { store.LoadFromFile(fileName); }),
              "File \"" + fileName + "\" is corrupted!");
    EXPECT_EQ(store.Count(), 0u) << name;
    store.LoadFromFile(folder / "good.dat");
  }
  EXPECT_NE(ErrorOf([&] { store.LoadFromFile(folder / "missing.dat"); }), "(no error)");
  EXPECT_EQ(store.Count(), 0u);
}

TEST(ResultFileLoad, KeepsOrderAndSortKey) {
  TTempFolder folder;
  TResultManager store;
  FillStore(store, 5);
  store.SortKey = -skSize;
  store.Sort();
  store.SaveToFile(folder / "sorted.dat");

  TResultManager loaded;
  loaded.SortKey = skPath;
  loaded.LoadFromFile(folder / "sorted.dat");
  EXPECT_EQ(loaded.SortKey, skPath);
  ASSERT_EQ(loaded.Count(), 5u);
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(loaded.Item(i).Size, static_cast<int64_t>(4 - i));
}

// A name that does not fit costs only its own record: the others are saved, and the
// error names what was left out.
TEST(ResultFileSave, LeavesOutNamesLongerThanFieldAndSavesTheRest) {
  TTempFolder folder;
  WriteBytes(folder / "old.dat", "old");
  TResultManager store;
  FillStore(store, 1);
  const std::string longName = "/" + std::string(511, 'n') + "x";  // 513 bytes
  for (int i = 0; i < 7; ++i) AddOne(store, MakeResult("/", longName.substr(1)));
  FillStore(store, 1);

  const std::string error = ErrorOf([&] { store.SaveToFile(folder / "old.dat"); });
  EXPECT_NE(error.find(" 7 results "), std::string::npos) << error;
  EXPECT_NE(error.find("\"" + longName + "\""), std::string::npos) << error;
  EXPECT_NE(error.find("512"), std::string::npos) << error;
  TResultManager loaded;
  loaded.LoadFromFile(folder / "old.dat");
  ASSERT_EQ(loaded.Count(), 2u);
  EXPECT_EQ(loaded.Item(1).Name, "file0.txt");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"old.dat"});
}

TEST(ResultFileSave, ReplacesAWritableTargetButNotAReadOnlyOne) {
  TTempFolder folder;
  TResultManager store;
  FillStore(store, 1);
  store.SaveToFile(folder / "r.dat");
  FillStore(store, 1);
  store.SaveToFile(folder / "r.dat");
  EXPECT_EQ(ReadBytes(folder / "r.dat").size(), 128u + 2 * 528u);
  chmod((folder / "r.dat").c_str(), 0600);
  store.SaveToFile(folder / "r.dat");
  struct stat info{};
  stat((folder / "r.dat").c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0600u);  // a private file stays private

  const std::string before = ReadBytes(folder / "r.dat");
  chmod((folder / "r.dat").c_str(), 0444);
  EXPECT_EQ(ErrorOf([&] { store.SaveToFile(folder / "r.dat"); }),
            "Can not rewrite file \"" + (folder / "r.dat") + "\"!");
  EXPECT_EQ(ReadBytes(folder / "r.dat"), before);

  std::filesystem::create_directory(folder / "dir.dat");
  EXPECT_EQ(ErrorOf([&] { store.SaveToFile(folder / "dir.dat"); }),
            "Can not rewrite file \"" + (folder / "dir.dat") + "\"!");
}

TEST(ResultFileSave, MissingFolderIsACreateError) {
  TTempFolder folder;
  TResultManager store;
  const std::string target = folder / "no/such/r.dat";
  const std::string error = ErrorOf([&] { store.SaveToFile(target); });
  EXPECT_NE(error.find("\"" + target + "\""), std::string::npos) << error;
  EXPECT_EQ(error.find("rewrite"), std::string::npos) << error;
}

// A file size limit makes the write fail part-way, as a full disk would.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &Previous);
    rlimit limit = Previous;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &Previous);
    std::signal(SIGXFSZ, PreviousHandler);
  }

 private:
  rlimit Previous{};
  void (*PreviousHandler)(int);
};

TEST(ResultFileSave, FailureMidwayKeepsOldFileAndLeavesNothing) {
  TTempFolder folder;
  TResultManager store;
  FillStore(store, 2);
  store.SaveToFile(folder / "r.dat");
  const std::string before = ReadBytes(folder / "r.dat");

  FillStore(store, 400);  // about 210 KB, several buffers
  std::string error;
  {
    TFileSizeLimit limit(100 * 1024);
    error = ErrorOf([&] { store.SaveToFile(folder / "r.dat"); });
  }
  EXPECT_NE(error.find("\"" + (folder / "r.dat") + "\""), std::string::npos) << error;
  EXPECT_EQ(ReadBytes(folder / "r.dat"), before);
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"r.dat"});
}

// Root saving over another user's file leaves it theirs, group and mode included.
TEST(AtomicFile, AReplacedFileKeepsItsOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "only root may give a file to another user";
  TTempFolder folder;
  const std::string name = folder / "theirs.dat";
  WriteBytes(name, "old");
  ASSERT_EQ(chown(name.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(name.c_str(), 0640), 0);
  {
    TAtomicFile file(name);
    file.Write("new");
    file.Commit();
  }
  struct stat info {};
  ASSERT_EQ(stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadBytes(name), "new");
}

TEST(AtomicFile, WriterDroppedWithoutCommitLeavesNothing) {
  TTempFolder folder;
  WriteBytes(folder / "t", "old");
  {
    TAtomicFile file(folder / "t");
    file.Write("new");
  }
  EXPECT_EQ(ReadBytes(folder / "t"), "old");
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"t"});

  // A name too long to take our suffix still gets a temporary file beside it.
  const std::string longName = folder / std::string(250, 'l');
  {
    TAtomicFile file(longName);
    file.Write("x");
    file.Commit();
  }
  EXPECT_EQ(ReadBytes(longName), "x");
}

namespace {

// The id of a process that has ended.
pid_t DeadProcessId() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

}  // namespace

// A save through a symbolic link (and a chain of them) replaces the file it leads to
// and keeps the links.
TEST(AtomicFile, WritesThroughSymbolicLinks) {
  TTempFolder folder;
  WriteBytes(folder / "real.dat", "old");
  std::filesystem::create_symlink("real.dat", folder / "link.dat");
  std::filesystem::create_symlink(folder / "link.dat", folder / "link2.dat");
  TResultManager store;
  FillStore(store, 1);
  store.SaveToFile(folder / "link2.dat");
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "link.dat"));
  EXPECT_TRUE(std::filesystem::is_symlink(folder / "link2.dat"));
  EXPECT_EQ(ReadBytes(folder / "real.dat").size(), 128u + 528u);
  std::vector<std::string> names = folder.Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"link.dat", "link2.dat", "real.dat"}));
}

// While a file is written nothing but the target shows in its folder (a writer killed
// now leaves nothing), and what a killed writer of an older kind left is cleared by the
// next write there, unless its process still runs.
TEST(AtomicFile, TemporaryFileNeverShowsAndDeadWritersLeftoversGo) {
  TTempFolder folder;
  const std::string dead = ".r.dat.lq-" + std::to_string(DeadProcessId()) + "-3.tmp";
  const std::string live = ".r.dat.lq-" + std::to_string(getppid()) + "-0.tmp";
  for (const std::string& name : {dead, live}) {
    WriteBytes(folder / name, "partial");
    const timespec old[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    utimensat(AT_FDCWD, (folder / name).c_str(), old, 0);
  }
  WriteBytes(folder / "r.dat", "old");
  {
    TAtomicFile file(folder / "r.dat");
    file.Write(std::string(200 * 1024, 'x'));  // past the buffer: bytes are on disk
    std::vector<std::string> names = folder.Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{live, "r.dat"}));
    file.Commit();
  }
  EXPECT_EQ(ReadBytes(folder / "r.dat").size(), 200u * 1024u);
}
