#include "index/index_folder_table.h"

#include <cstring>

namespace {

uint64_t Rotl(uint64_t v, int n) { return (v << n) | (v >> (64 - n)); }

uint64_t Final(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

}  // namespace

TFolderTable::THash TFolderTable::HashOf(std::string_view path) {
  uint64_t a = 0x9E3779B97F4A7C15ull ^ path.size(), b = 0x6A09E667F3BCC909ull + path.size();
  size_t i = 0;
  auto mix = [&](uint64_t w) {
    a = Rotl(a ^ (w * 0x87C37B91114253D5ull), 31) * 0x4CF5AD432745937Full;
    b = Rotl(b + w, 27) * 0x9FB21C651E98DF25ull + 0x52DCE729ull;
  };
  for (; i + 8 <= path.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, path.data() + i, 8);
    mix(w);
  }
  if (i < path.size()) {
    uint64_t w = 0;
    std::memcpy(&w, path.data() + i, path.size() - i);
    mix(w);
  }
  return {Final(a), Final(b ^ a)};
}

std::optional<uint32_t> TFolderTable::Lookup(const THash& hash) const {
  if (Slots.empty()) return std::nullopt;
  const size_t mask = Slots.size() - 1;
  for (size_t i = hash.A & mask;; i = (i + 1) & mask) {
    const uint32_t slot = Slots[i];
    if (slot == 0) return std::nullopt;
    if (Records[slot - 1].Hash == hash) return slot - 1;
  }
}

std::optional<uint32_t> TFolderTable::Find(std::string_view folder) const { return Lookup(HashOf(folder)); }

void TFolderTable::Grow() {
  std::vector<uint32_t> slots(Slots.empty() ? 1024 : Slots.size() * 2, 0);
  const size_t mask = slots.size() - 1;
  for (uint32_t id = 0; id < Records.size(); ++id) {
    size_t i = Records[id].Hash.A & mask;
    while (slots[i] != 0) i = (i + 1) & mask;
    slots[i] = id + 1;
  }
  Slots.swap(slots);
}

uint32_t TFolderTable::Add(uint32_t parent, std::string_view name, const THash& hash) {
  if ((Records.size() + 1) * 2 > Slots.size()) Grow();
  const uint32_t id = static_cast<uint32_t>(Records.size());
  Records.push_back({hash, Names.size(), static_cast<uint32_t>(name.size()), parent});
  Names.append(name);
  const size_t mask = Slots.size() - 1;
  size_t i = hash.A & mask;
  while (Slots[i] != 0) i = (i + 1) & mask;
  Slots[i] = id + 1;
  return id;
}

uint32_t TFolderTable::Intern(std::string_view folder, size_t rootLength) {
  if (LastId != kNone && folder == LastPath) return LastId;
  const THash hash = HashOf(folder);
  LastPath.assign(folder);
  if (std::optional<uint32_t> known = Lookup(hash)) return LastId = *known;
  // The nearest known folder above, then every missing one below it, outermost first.
  const char separator = folder.back();
  std::vector<size_t> ends;  // lengths of the missing folders' paths, innermost first
  ends.push_back(folder.size());
  uint32_t parent = kNone;
  size_t end = folder.size();
  while (end > rootLength) {
    const size_t cut = folder.rfind(separator, end - 2);
    end = cut == std::string_view::npos || cut + 1 < rootLength ? rootLength : cut + 1;
    if (std::optional<uint32_t> known = Find(folder.substr(0, end))) {
      parent = *known;
      break;
    }
    ends.push_back(end);
  }
  uint32_t id = parent;
  for (size_t i = ends.size(); i-- > 0;) {
    const size_t stop = ends[i];
    const std::string_view path = folder.substr(0, stop);
    if (id == kNone) {
      id = Add(kNone, path, HashOf(path));  // the root: its whole path
      continue;
    }
    const size_t nameStart = path.rfind(separator, stop - 2) + 1;
    id = Add(id, path.substr(nameStart, stop - 1 - nameStart), stop == folder.size() ? hash : HashOf(path));
  }
  return LastId = id;
}

std::string TFolderTable::Path(uint32_t id) const {
  std::vector<uint32_t> chain;
  for (uint32_t f = id; f != kNone; f = Records[f].Parent) chain.push_back(f);
  std::string path(Name(chain.back()));
  const char separator = path.back();
  for (size_t i = chain.size() - 1; i-- > 0;) {
    path += Name(chain[i]);
    path += separator;
  }
  return path;
}
