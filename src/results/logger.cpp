#include "results/logger.h"

#include "os/net_error_text.h"

void TLogger::AddError(uint32_t errorCode, const NETRESOURCEA& resource) {
  std::lock_guard<std::mutex> guard(LogLock);
  std::string line = GetNetErrorText(errorCode, resource);
  // The place first: a reader that sees the line's Count sees its place too.
  Places.Append(TPlace{errorCode, resource.lpRemoteName.value_or("")});
  Lines.Append(std::move(line));
}

void TLogger::Changed() {
  if (OnChange) OnChange(this);
}

void TLogger::Clear() {
  Lines.Clear();
  Places.Clear();
}
