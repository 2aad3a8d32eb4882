#include "results/logger.h"

#include "os/net_error_text.h"

void TLogger::AddError(uint32_t errorCode, const NETRESOURCEA& resource) {
  std::lock_guard<std::mutex> guard(LogLock);
  std::string line = GetNetErrorText(errorCode, resource);
  // The place first: a reader that sees the line's Count sees its place too.
  Places.Append(TPlace{errorCode, resource.lpRemoteName.value_or("")});
  Lines.Append(std::move(line));
}

void TLogger::AddFolderError(const std::string& folder, const std::string& reason, bool endedEarly) {
  const bool unc = folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\';
  std::string name = folder;
  const char separator = unc ? '\\' : '/';
  if (name.size() > 1 && name.back() == separator) name.pop_back();
  std::string line = unc ? "'" + std::string(kSmbProviderName) + "' " + name : name;
  line += " - ";
  if (endedEarly) line += "Listing ended early: ";
  line += reason;
  std::lock_guard<std::mutex> guard(LogLock);
  // Every line has its place: the folder, as a resource would name it. The reason is in
  // the line's text only, so the code says just that.
  Places.Append(TPlace{ERROR_EXTENDED_ERROR, name});
  Lines.Append(std::move(line));
}

void TLogger::Changed() {
  if (OnChange) OnChange(this);
}

void TLogger::Clear() {
  Lines.Clear();
  Places.Clear();
}
