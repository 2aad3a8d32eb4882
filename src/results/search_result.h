#pragma once
// One found file. Results found in one folder share one Path string (a search can find
// millions of files; the folder is not copied into every record).
#include <cstdint>
#include <memory>
#include <string>

// The folder a result was found in, ending with its separator ("/" locally, "\" for UNC).
using TPathRef = std::shared_ptr<const std::string>;

struct TSearchResult {
  TPathRef Path;
  std::string Name;
  double DateTime = 0.0;  // local time, days since 1899-12-30, two-second resolution;
                          // not finite when it could not be read
  int64_t Size = 0;       // the true size, negative when it could not be read
  uint32_t Attr = 0;

  std::string FullName() const { return (Path ? *Path : std::string()) + Name; }
};
using PSearchResult = std::unique_ptr<TSearchResult>;
