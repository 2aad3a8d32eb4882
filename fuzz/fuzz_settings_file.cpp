// Loads any bytes as the settings file, changes one value so that the hive is written,
// and loads what was written: it must load without a problem and hold the same keys and
// values as before.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "hive/registry.h"
#include "scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path file = ScratchFolder() / "settings.reg";
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder(), ignored)) {
    std::filesystem::remove(entry.path(), ignored);  // files moved aside by the last input
  }
  if (FILE* out = std::fopen(file.c_str(), "wb")) {
    std::fwrite(data, 1, size, out);
    std::fclose(out);
  } else {
    abort();
  }
  std::string written;
  {
    TRegistryHive hive(file);
    try {
      hive.CreateKey("Software\\Fuzz").WriteString("Probe", "1");
    } catch (const TRegistryError&) {
      return 0;  // a hive that could not be moved aside is not written, by design
    }
    written = hive.ToRegText();
  }
  TRegistryHive reread(file);
  if (!reread.LoadProblem().empty()) abort();
  if (reread.ToRegText() != written) abort();
  return 0;
}
