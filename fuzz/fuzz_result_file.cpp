// Loads any bytes as a result file, then sorts by every key in both directions (each
// sort must leave neighbours in order), exports both reports (no byte a reader rejects),
// and saves and reloads the records (they must come back unchanged).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "results/lan_error.h"
#include "scratch_folder.h"
#include "results/result_manager.h"

namespace {

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A report may hold no control byte but tab, line feed and carriage return.
void CheckReportBytes(const std::string& name) {
  for (const char c : ReadAll(name)) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 && c != '\t' && c != '\n' && c != '\r') abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = (ScratchFolder() / "input.dat").string();
  if (FILE* file = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data, 1, size, file);
    std::fclose(file);
  } else {
    abort();
  }
  TResultManager store;
  try {
    store.LoadFromFile(input);
  } catch (const TLanError&) {
    // A refused file leaves the records read before the failure (none for a bad
    // signature); they go through the rest like any others.
  }
  for (int32_t key = 1; key <= 6; ++key) {
    for (const int32_t sortKey : {key, -key}) {
      store.SortKey = sortKey;
      store.Sort();
      for (size_t i = 1; i < store.Count(); ++i) {
        if (TResultManager::CompareResults(sortKey, store.Item(i - 1), store.Item(i)) > 0) abort();
      }
    }
  }
  store.ExportToHTML((ScratchFolder() / "r.html").string());
  store.ExportToXML((ScratchFolder() / "r.xml").string());
  CheckReportBytes((ScratchFolder() / "r.html").string());
  CheckReportBytes((ScratchFolder() / "r.xml").string());

  const std::string saved = (ScratchFolder() / "saved.dat").string();
  store.SaveToFile(saved);
  TResultManager again;
  again.LoadFromFile(saved);
  if (again.Count() != store.Count()) abort();
  for (size_t i = 0; i < store.Count(); ++i) {
    const TSearchResult& a = store.Item(i);
    const TSearchResult& b = again.Item(i);
    if (a.FullName() != b.FullName() || a.Size != b.Size || a.Attr != b.Attr ||
        !SameBits(a.DateTime, b.DateTime)) {
      abort();
    }
  }
  return 0;
}
