#include "results/result_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "os/atomic_file.h"
#include "os/regular_file.h"
#include "results/lan_error.h"
#include "results/result_manager.h"

const std::array<uint8_t, kSignatureSize> ResultFileSignature = [] {
  std::array<uint8_t, kSignatureSize> bytes{};
  bytes[0] = 0xEA;
  bytes[1] = 0x6B;
  std::memcpy(&bytes[3], "ZOVUZE", 6);
  bytes[16] = 0x01;
  bytes[126] = 0xFF;
  bytes[127] = 0xFF;
  return bytes;
}();

namespace {

constexpr size_t kDateTimeOffset = 512;
constexpr size_t kSizeOffset = 520;
constexpr size_t kAttrOffset = 524;
// Records read per call when loading.
constexpr size_t kRecordsPerRead = 1024;

void PutUint32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetUint32(const uint8_t* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(at[i]) << (8 * i);
  return value;
}

void PutDouble(uint8_t* at, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutUint32(at, static_cast<uint32_t>(bits));
  PutUint32(at + 4, static_cast<uint32_t>(bits >> 32));
}

double GetDouble(const uint8_t* at) {
  const uint64_t bits = GetUint32(at) | static_cast<uint64_t>(GetUint32(at + 4)) << 32;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Where Name starts in a full name read from a record.
size_t NameStart(const std::string& fullName) {
  const char* separators = !fullName.empty() && fullName[0] == '/' ? "/" : "\\:/";
  const size_t last = fullName.find_last_of(separators);
  return last == std::string::npos ? 0 : last + 1;
}

std::string NameTooLongMessage(const std::string& fullName) {
  return "The file name \"" + fullName + "\" is longer than " + std::to_string(kNameFieldSize) +
         " bytes and can not be saved in a result file.";
}

// Names shown in the message about results left out of a save.
constexpr size_t kLeftOutNamesShown = 5;

std::string LeftOutMessage(const std::string& fileName, size_t count,
                           const std::vector<std::string>& firstNames) {
  std::string message = "The file \"" + fileName + "\" was saved without " +
                        std::to_string(count) + (count == 1 ? " result" : " results") +
                        " whose full name is longer than " + std::to_string(kNameFieldSize) +
                        " bytes:";
  for (const std::string& name : firstNames) message += "\n\"" + name + "\"";
  if (count > firstNames.size()) message += "\n...";
  return message;
}

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using PFile = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace

std::string RewriteFileMessage(const std::string& fileName) {
  return "Can not rewrite file \"" + fileName + "\"!";
}

std::string CorruptedFileMessage(const std::string& fileName) {
  return "File \"" + fileName + "\" is corrupted!";
}

void TStoredResult::AssignResult(const TSearchResult& result) {
  Result = result;
  const std::string fullName = result.FullName();
  if (fullName.size() > kNameFieldSize) throw TLanError(NameTooLongMessage(fullName));
  FileRecord.fill(0);
  std::memcpy(FileRecord.data(), fullName.data(), fullName.size());
  // A size not known has no form in the file; it is kept as 0 (the date, not finite,
  // still tells that the details were not read).
  const auto size = static_cast<uint64_t>(result.Size < 0 ? 0 : result.Size);
  if (fullName.size() <= kNameWithSizeHighMax) {
    PutUint32(&FileRecord[fullName.size() + 1], static_cast<uint32_t>(size >> 32));
  }
  PutDouble(&FileRecord[kDateTimeOffset], result.DateTime);
  PutUint32(&FileRecord[kSizeOffset], static_cast<uint32_t>(size));
  PutUint32(&FileRecord[kAttrOffset], result.Attr);
}

void TStoredResult::WriteRecord(TAtomicFile& file) const {
  file.Write(FileRecord.data(), FileRecord.size());
}

void TStoredResult::ReadRecord(const uint8_t* record, const TPathRef& samePath) {
  std::memcpy(FileRecord.data(), record, kRecordSize);
  const auto* end = static_cast<const uint8_t*>(std::memchr(record, 0, kNameFieldSize));
  const size_t nameLength = end ? static_cast<size_t>(end - record) : kNameFieldSize;
  std::string fullName(reinterpret_cast<const char*>(record), nameLength);
  const size_t nameStart = NameStart(fullName);

  Result.Name = fullName.substr(nameStart);
  fullName.resize(nameStart);
  if (samePath && *samePath == fullName) {
    Result.Path = samePath;
  } else {
    Result.Path = std::make_shared<const std::string>(std::move(fullName));
  }
  uint64_t size = GetUint32(record + kSizeOffset);
  if (nameLength <= kNameWithSizeHighMax) {
    // A high half that would make the size negative is not ours (another writer's
    // leftover bytes): the size field alone is the size then.
    const uint32_t high = GetUint32(record + nameLength + 1);
    if (high <= 0x7FFFFFFFu) size |= static_cast<uint64_t>(high) << 32;
  }
  Result.Size = static_cast<int64_t>(size);
  Result.DateTime = GetDouble(record + kDateTimeOffset);
  Result.Attr = GetUint32(record + kAttrOffset);
}

void WriteWholeFile(const std::string& fileName, const std::function<void(TAtomicFile&)>& body) {
  try {
    TAtomicFile file(fileName);
    body(file);
    file.Commit();
  } catch (const TAtomicFileError& error) {
    if (error.Step == TAtomicFileError::TStep::Replace) {
      throw TLanError(RewriteFileMessage(fileName));
    }
    throw TLanError(error.what());
  }
}

void TResultManager::SaveToFile(const std::string& fileName) {
  const size_t count = Count();
  // A name that does not fit is never cut: its record is left out, and once every
  // other record is saved the user learns which ones are missing.
  size_t leftOut = 0;
  std::vector<std::string> firstLeftOut;
  WriteWholeFile(fileName, [&](TAtomicFile& file) {
    file.Write(ResultFileSignature.data(), ResultFileSignature.size());
    TStoredResult stored;
    for (size_t i = 0; i < count; ++i) {
      const TSearchResult& result = Item(i);
      if ((result.Path ? result.Path->size() : 0) + result.Name.size() > kNameFieldSize) {
        if (firstLeftOut.size() < kLeftOutNamesShown) firstLeftOut.push_back(result.FullName());
        ++leftOut;
        continue;
      }
      stored.AssignResult(result);
      stored.WriteRecord(file);
    }
  });
  if (leftOut > 0) throw TLanError(LeftOutMessage(fileName, leftOut, firstLeftOut));
}

void TResultManager::LoadFromFile(const std::string& fileName) {
  Clear();
  LastLoadNotice.clear();
  std::string reason;
  PFile file(OpenRegularFileForReading(fileName, reason));
  if (!file) throw TLanError("Can not open file \"" + fileName + "\": " + reason);
  auto readError = [&] {
    return TLanError("Can not read file \"" + fileName + "\": " + std::strerror(errno));
  };
  std::array<uint8_t, kSignatureSize> signature{};
  const size_t signatureRead = std::fread(signature.data(), 1, signature.size(), file.get());
  if (signatureRead < signature.size() && std::ferror(file.get())) throw readError();
  if (signatureRead < signature.size() || signature != ResultFileSignature) {
    throw TLanError(CorruptedFileMessage(fileName));
  }

  // Records read so far go to the store also when a later read fails.
  std::vector<PSearchResult> records;
  try {
    std::vector<uint8_t> chunk(kRecordsPerRead * kRecordSize);
    TStoredResult stored;
    TPathRef lastPath;
    for (;;) {
      // fread fills the chunk unless the file ends or fails; a partial last record is
      // left out, and said so.
      const size_t bytes = std::fread(chunk.data(), 1, chunk.size(), file.get());
      for (size_t r = 0; r < bytes / kRecordSize; ++r) {
        stored.ReadRecord(&chunk[r * kRecordSize], lastPath);
        lastPath = stored.Result.Path;
        records.push_back(std::make_unique<TSearchResult>(std::move(stored.Result)));
      }
      if (bytes % kRecordSize != 0 && !std::ferror(file.get()))
        LastLoadNotice = "The file \"" + fileName + "\" ends inside a record: its last " +
                         std::to_string(bytes % kRecordSize) + " bytes were not loaded.";
      if (bytes < chunk.size()) break;
    }
    if (std::ferror(file.get())) throw readError();
  } catch (...) {
    ReplaceAll(std::move(records));
    throw;
  }
  ReplaceAll(std::move(records));
}
