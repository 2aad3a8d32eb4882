#include "cli/cli_progress.h"

namespace {
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
}

void TCliProgress::Update(uint64_t foldersDone, size_t results, int32_t activeWorkers) {
  if (!Enabled) return;
  const auto now = std::chrono::steady_clock::now();
  if (Drawn && now - LastDrawn < kRedrawInterval) return;
  LastDrawn = now;
  Drawn = true;
  std::fprintf(Terminal, "\r\033[KFolders: %llu  Results: %zu  Active threads: %d",
               static_cast<unsigned long long>(foldersDone), results, static_cast<int>(activeWorkers));
  std::fflush(Terminal);
}

void TCliProgress::Clear() {
  if (!Drawn) return;
  Drawn = false;
  std::fputs("\r\033[K", Terminal);
  std::fflush(Terminal);
}
