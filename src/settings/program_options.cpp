#include "settings/program_options.h"

#include <algorithm>

TProgramOptions& ProgramOptions() {
  static TProgramOptions options;
  return options;
}

int32_t ClampMaxThreads(int32_t value) { return std::clamp(value, 1, TProgramOptions::kMaxThreadsLimit); }
