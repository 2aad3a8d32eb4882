#include "index/index_filter.h"

#include <algorithm>
#include <bit>
#include <stdexcept>

#include "index/index_scan.h"

using namespace index_format;

namespace index_filter {

namespace {

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c | 0x20) : c; }

uint32_t Hash(unsigned char a, unsigned char b, unsigned char c, uint32_t bits) {
  const uint32_t v = static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16;
  return (v * 0x9E3779B1u) >> (32 - bits);
}

uint64_t PageCount(uint32_t bits) { return ((uint64_t{1} << bits) + kRowsPerPage - 1) / kRowsPerPage; }

}  // namespace

TFilterBuilder::TFilterBuilder(uint64_t entries) : Entries(entries) {
  Groups = static_cast<uint32_t>((entries + kGroupEntries - 1) / kGroupEntries);
  // About eight bits an entry of a group, between 1,024 and 32,768 buckets.
  const uint64_t perGroup = std::max<uint64_t>(1, std::min<uint64_t>(entries, kGroupEntries));
  Bits = std::clamp<uint32_t>(static_cast<uint32_t>(std::bit_width(perGroup * 8 - 1)), 10, 15);
  RowBytes = (Groups + 7) / 8;
  Current.assign((size_t{1} << Bits) / 64, 0);
  Rows.assign((size_t{1} << Bits) * RowBytes, 0);
}

void TFilterBuilder::Add(const char* bytes, size_t size) {
  if (Groups == 0) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes);
  size_t run = 0;  // where the current group's unsummed bytes begin
  for (size_t i = 0; i < size; ++i) {
    const unsigned char c = Fold(p[i]);
    // The trigram that begins two bytes back, unless its middle byte ends a name.
    if (Seen >= 2 && Prev[1] != 0) {
      const uint32_t h = Hash(Prev[0], Prev[1], c, Bits);
      Current[h >> 6] |= uint64_t{1} << (h & 63);
    }
    Prev[0] = Prev[1];
    Prev[1] = c;
    ++Seen;
    if (p[i] != 0) continue;
    const uint64_t before = Nuls++;  // this NUL comes before entry `before`
    if (before == 0 || before % kGroupEntries != 0 || before >= Entries) continue;
    // It ends the current group's range (summed with it) and begins the next one's.
    Sum.Add(bytes + run, i + 1 - run);
    CloseGroup();
    run = i;
  }
  Sum.Add(bytes + run, size - run);
}

void TFilterBuilder::CloseGroup() {
  GroupSums.push_back(Sum.Value());
  Sum = TChecksum();
  const size_t byte = Group / 8;
  const unsigned char bit = static_cast<unsigned char>(1u << (Group % 8));
  for (size_t w = 0; w < Current.size(); ++w) {
    for (uint64_t set = Current[w]; set != 0; set &= set - 1) {
      const size_t h = w * 64 + static_cast<size_t>(std::countr_zero(set));
      Rows[h * RowBytes + byte] |= bit;
    }
    Current[w] = 0;
  }
  ++Group;
}

std::string TFilterBuilder::Finish() {
  if (Groups != 0) CloseGroup();
  if (Group != Groups || (Groups != 0 && Nuls != Entries + 1))
    throw std::logic_error("the name filter was given another column than its entries'");
  TByteWriter out;
  out.U32(kGroupEntries);
  out.U32(Bits);
  out.U32(Groups);
  out.U32(RowBytes);
  for (uint64_t sum : GroupSums) out.U64(sum);
  const size_t pageBytes = size_t{kRowsPerPage} * RowBytes;
  for (uint64_t page = 0; page < PageCount(Bits); ++page)
    out.U64(ChecksumOf(Rows.data() + page * pageBytes, std::min(pageBytes, Rows.size() - page * pageBytes)));
  out.U64(ChecksumOf(out.Bytes.data(), out.Bytes.size()));
  out.Bytes.append(reinterpret_cast<const char*>(Rows.data()), Rows.size());
  return std::move(out.Bytes);
}

bool TNameFilter::Open(std::string_view region, uint64_t entries) {
  if (region.size() < 16) return false;
  Base = reinterpret_cast<const unsigned char*>(region.data());
  GroupSize = LoadU32(Base);
  Bits = LoadU32(Base + 4);
  Groups = LoadU32(Base + 8);
  RowBytes = LoadU32(Base + 12);
  if (GroupSize == 0 || GroupSize % kBlockEntries != 0 || Bits < 6 || Bits > 24 ||
      Groups != (entries + GroupSize - 1) / GroupSize || RowBytes != (Groups + 7) / 8)
    return false;
  const uint64_t tables = 16 + 8 * (uint64_t{Groups} + PageCount(Bits));
  if (region.size() != tables + 8 + (uint64_t{1} << Bits) * RowBytes) return false;
  if (ChecksumOf(Base, tables) != LoadU64(Base + tables)) return false;
  RowBase = Base + tables + 8;
  return true;
}

uint64_t TNameFilter::GroupChecksum(uint32_t group) const { return LoadU64(Base + 16 + 8 * uint64_t{group}); }

bool TNameFilter::Narrow(const TLiteral& literal, std::vector<uint8_t>& groups) const {
  const std::string& bytes = literal.Bytes;
  const uint64_t rows = uint64_t{1} << Bits;
  const size_t pageBytes = size_t{kRowsPerPage} * RowBytes;
  std::vector<uint64_t> checked;
  for (size_t i = 0; i + 2 < bytes.size(); ++i) {
    const auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (at(i + 1) == 0) continue;
    const uint32_t h = Hash(at(i), at(i + 1), at(i + 2), Bits);
    const uint64_t page = h / kRowsPerPage;
    if (std::find(checked.begin(), checked.end(), page) == checked.end()) {
      const uint64_t size = std::min<uint64_t>(kRowsPerPage, rows - page * kRowsPerPage) * RowBytes;
      if (ChecksumOf(RowBase + page * pageBytes, size) != LoadU64(Base + 16 + 8 * (uint64_t{Groups} + page)))
        return false;
      checked.push_back(page);
    }
    const unsigned char* row = RowBase + uint64_t{h} * RowBytes;
    for (uint32_t g = 0; g < Groups; ++g)
      if ((row[g / 8] >> (g % 8) & 1) == 0) groups[g] = 0;
  }
  return true;
}

}  // namespace index_filter
