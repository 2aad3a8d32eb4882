// Opens any bytes as an index file; when it is accepted, reads everything it holds and
// runs queries over it. Nothing may crash or read outside the file, whatever the bytes.
//
// The first byte chooses the form: odd, and the rest has its checksums put right before
// it is opened (header, table of contents, regions, blocks, trailer), so that the search
// reaches the checks of the tables' bounds and order behind them instead of stopping at
// the first checksum; even, and the rest is opened as it is.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/masks.h"
#include "index/index_filter.h"
#include "index/index_format.h"
#include "index/index_query.h"
#include "index/index_reader.h"
#include "os/file_attr.h"
#include "scratch_folder.h"

namespace {

using namespace index_format;

void Put64(std::string& s, size_t at, uint64_t v) { std::memcpy(s.data() + at, &v, 8); }

// Puts every checksum that can be located right; leaves the rest as it is.
void FixChecksums(std::string& s) {
  if (s.size() < kHeaderSize + kTrailerSize) return;
  Put64(s, 56, ChecksumOf(s.data(), 56));
  const size_t trailer = s.size() - kTrailerSize;
  const uint64_t tocOffset = LoadU64(s.data() + trailer + 16), tocSize = LoadU64(s.data() + trailer + 24);
  Put64(s, trailer + 8, s.size());
  if (tocOffset <= trailer && tocSize <= trailer - tocOffset && tocSize % 32 == 0) {
    uint64_t detailsOffset = 0, detailsSize = 0;
    for (uint64_t at = tocOffset; at < tocOffset + tocSize; at += 32)
      if (LoadU32(s.data() + at) == kDetails) {
        detailsOffset = LoadU64(s.data() + at + 8);
        detailsSize = LoadU64(s.data() + at + 16);
      }
    const bool detailsFit = detailsOffset <= s.size() && detailsSize <= s.size() - detailsOffset;
    for (uint64_t at = tocOffset; at < tocOffset + tocSize; at += 32) {
      const uint32_t id = LoadU32(s.data() + at);
      const uint64_t offset = LoadU64(s.data() + at + 8), size = LoadU64(s.data() + at + 16);
      if (offset > s.size() || size > s.size() - offset) continue;
      if (id == kBlocks && detailsFit) {
        // Each block's records, as far as its offsets lie inside the details.
        for (uint64_t b = 0; b + 2 * sizeof(TBlock) <= size; b += sizeof(TBlock)) {
          const uint64_t from = LoadU64(s.data() + offset + b + 8), to = LoadU64(s.data() + offset + b + 32);
          if (from <= to && to <= detailsSize) Put64(s, offset + b + 16, ChecksumOf(s.data() + detailsOffset + from, to - from));
        }
      }
      if (id == kFilter && size >= 16) {
        // The name filter's row pages, then its tables (as far as they lie inside it).
        const uint32_t bits = LoadU32(s.data() + offset + 4), groups = LoadU32(s.data() + offset + 8);
        const uint64_t rowBytes = LoadU32(s.data() + offset + 12);
        if (bits < 6 || bits > 24) continue;
        const uint64_t rows = uint64_t{1} << bits, pages = rows / index_filter::kRowsPerPage;
        const uint64_t tables = 16 + 8 * (uint64_t{groups} + pages);
        if (tables + 8 + rows * rowBytes != size) continue;
        const uint64_t pageBytes = index_filter::kRowsPerPage * rowBytes;
        for (uint64_t page = 0; page < pages; ++page)
          Put64(s, offset + 16 + 8 * (groups + page), ChecksumOf(s.data() + offset + tables + 8 + page * pageBytes, pageBytes));
        Put64(s, offset + tables, ChecksumOf(s.data() + offset, tables));
      }
    }
    for (uint64_t at = tocOffset; at < tocOffset + tocSize; at += 32) {
      const uint64_t offset = LoadU64(s.data() + at + 8), size = LoadU64(s.data() + at + 16);
      if (offset <= s.size() && size <= s.size() - offset) Put64(s, at + 24, ChecksumOf(s.data() + offset, size));
    }
    Put64(s, trailer + 32, ChecksumOf(s.data() + tocOffset, tocSize));
  }
  Put64(s, trailer + 56, ChecksumOf(s.data() + trailer, 56));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) FixChecksums(bytes);
  const std::string name = (ScratchFolder() / "input.lqindex").string();
  if (FILE* file = std::fopen(name.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  } else {
    abort();
  }
  try {
    PIndexReader index = TIndexReader::Open(name);
    const TIndexInfo& info = index->Info();
    size_t seen = 0;
    index->ForEachFolderIn(info.Location, [&](const std::string& folder, std::span<const TIndexEntry> entries) {
      seen += entries.size() + folder.size();
    });
    for (const TIndexSection& section : index->Sections()) seen += index->SectionOf(section.Path).Path.size();
    for (const char* mask : {"*", "*a*", "a*", "*.c;?b", "[!x]*z"}) {
      TSearchCriteria criteria;
      criteria.Mask = mask;
      criteria.FileAttr = kTestedAttributes;
      criteria.FileSizeFrom = mask[0] == 'a' ? 2 : 0;
      criteria.Exclude = mask[1] == 'a' ? "d*" : "";
      TIndexQuery query(*index, criteria, info.Location);
      query.Run([&](std::vector<PSearchResult>& batch) {
        for (const PSearchResult& r : batch) seen += r->FullName().size();
      }, 1);
    }
    index->Verify();
    if (seen == ~size_t{0}) abort();  // keeps the reads from being optimised away
  } catch (const TIndexError&) {
    // Refused: what a damaged file must get.
  } catch (const TMaskError&) {
    abort();  // the masks above are well formed
  }
  return 0;
}
