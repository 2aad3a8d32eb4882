#include "cli/cli_files.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>
#include <memory>
#include <vector>

#include "engine/masks.h"
#include "os/dir_listing.h"
#include "results/lan_error.h"
#include "results/result_manager.h"
#include "results/result_text.h"

namespace {

bool AnyMatches(const std::vector<TMask>& masks, std::string_view name) {
  return std::any_of(masks.begin(), masks.end(), [&](const TMask& mask) { return mask.Matches(name); });
}

// Whether a folder of path matches one of the exclusion masks: a search with them would
// not have walked it, so nothing below it is kept either. A network path's host and share
// are not folders of the search.
bool InExcludedFolder(const std::string& path, const std::vector<TMask>& excluded) {
  if (excluded.empty()) return false;
  const char separator = PathSeparatorOf(path);
  size_t skip = IsUncPath(path) ? 2 : 0;
  size_t begin = 0;
  while (begin < path.size()) {
    size_t end = path.find(separator, begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) {
      if (skip > 0) --skip;
      else if (AnyMatches(excluded, std::string_view(path).substr(begin, end - begin))) return true;
    }
    begin = end + 1;
  }
  return false;
}

bool EndsWithXml(const std::string& fileName) {
  static constexpr std::string_view kXml = ".xml";
  if (fileName.size() < kXml.size()) return false;
  return std::equal(kXml.begin(), kXml.end(), fileName.end() - kXml.size(),
                    [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

// Runs one file operation; its failure is reported on err and gives status 1.
template <class Operation>
int ReportFailure(const TCliOptions& options, std::FILE* err, Operation&& operation) {
  try {
    operation();
    return 0;
  } catch (const TLanError& error) {
    WriteCliError(options.Format, error.what(), err);
    return 1;
  }
}

// Writes text escaped for a terminal (EscapeForTerminal), so that a name cannot move the
// cursor, clear the screen, reverse the line or pass for two lines.
void WriteEscaped(std::string_view text, std::FILE* out) {
  const std::string shown = EscapeForTerminal(text);
  std::fwrite(shown.data(), 1, shown.size(), out);
}

// The store with every local name made absolute, or nullptr when all already are. A
// result file or report is read elsewhere and later, where a relative name means
// nothing (and a result file would split it at the wrong separators).
std::unique_ptr<TResultManager> WithAbsoluteNames(const TResultManager& store) {
  const auto isRelative = [](const TSearchResult& result) {
    const std::string& path = result.Path ? *result.Path : std::string();
    return path.empty() || (path[0] != '/' && path.rfind("\\\\", 0) != 0);
  };
  bool any = false;
  for (size_t i = 0; i < store.Count() && !any; ++i) any = isRelative(store.Item(i));
  if (!any) return nullptr;
  std::error_code ignored;
  const std::filesystem::path current = std::filesystem::current_path(ignored);
  std::map<const std::string*, TPathRef> absolute;  // results of one folder share a path
  std::vector<PSearchResult> records;
  records.reserve(store.Count());
  for (size_t i = 0; i < store.Count(); ++i) {
    auto record = std::make_unique<TSearchResult>(store.Item(i));
    if (isRelative(*record)) {
      TPathRef& made = absolute[record->Path.get()];
      if (!made) {
        // The folder part keeps its trailing separator through lexically_normal.
        std::string folder = (current / (record->Path ? *record->Path : std::string()))
                                 .lexically_normal()
                                 .string();
        if (folder.empty() || folder.back() != '/') folder += '/';
        made = std::make_shared<const std::string>(std::move(folder));
      }
      record->Path = made;
    }
    records.push_back(std::move(record));
  }
  auto copy = std::make_unique<TResultManager>();
  copy->ReplaceAll(std::move(records));
  return copy;
}

}  // namespace

int32_t ParseSortKey(const std::string& option, const std::string& text) {
  static const char* const kKeys[] = {"path", "name", "size", "date", "time", "attr"};
  const bool descending = !text.empty() && text[0] == '-';
  const std::string key = descending ? text.substr(1) : text;
  for (int32_t i = 0; i < 6; ++i) {
    if (key == kKeys[i]) return descending ? -(i + 1) : i + 1;
  }
  throw TUsageError(option + ": \"" + text +
                    "\" is not one of path, name, size, date, time, attr (\"-\" before it "
                    "sorts descending)");
}

void PrintCliResult(const TCliOptions& options, const TSearchResult& result, std::FILE* out) {
  if (options.Format != TOutputFormat::Plain) {
    WriteStructuredResult(options.Format, result, out);
    return;
  }
  if (options.Terminal) {
    WriteEscaped(result.Path ? std::string_view(*result.Path) : std::string_view(), out);
    WriteEscaped(result.Name, out);
  } else {
    if (result.Path) std::fwrite(result.Path->data(), 1, result.Path->size(), out);
    std::fwrite(result.Name.data(), 1, result.Name.size(), out);
  }
  if (options.Long) {
    const std::string fields = "\t" + SizeToText(result.Size) + "\t" + DateToText(result.DateTime) +
                               "\t" + TimeToText(result.DateTime) + "\t" + AttrToText(result.Attr);
    std::fwrite(fields.data(), 1, fields.size(), out);
  }
  std::fputc(options.Print0 ? '\0' : '\n', out);
}

int FinishCliResults(const TCliOptions& options, TResultManager& store, size_t printed,
                     std::FILE* out, std::FILE* err) {
  if (options.SortKey != 0) {
    store.SortKey = options.SortKey;
    store.Sort();
  }
  for (size_t i = printed; i < store.Count(); ++i) PrintCliResult(options, store.Item(i), out);
  int status = 0;
  if (options.SaveFile.empty() && options.ExportFile.empty()) return status;
  // A loaded file's names are kept as they were stored (they may come from elsewhere).
  const std::unique_ptr<TResultManager> absolute =
      options.LoadFile.empty() ? WithAbsoluteNames(store) : nullptr;
  TResultManager& written = absolute ? *absolute : store;
  if (!options.SaveFile.empty()) {
    status |= ReportFailure(options, err, [&] { written.SaveToFile(options.SaveFile); });
  }
  if (!options.ExportFile.empty()) {
    status |= ReportFailure(options, err, [&] {
      if (EndsWithXml(options.ExportFile)) {
        written.ExportToXML(options.ExportFile);
      } else {
        written.ExportToHTML(options.ExportFile);
      }
    });
  }
  return status;
}

int RunCliLoad(const TCliOptions& options, std::FILE* out, std::FILE* err) {
  TResultManager store;
  BeginStructuredOutput(options.Format, out);
  if (ReportFailure(options, err, [&] { store.LoadFromFile(options.LoadFile); }) != 0) return 1;
  // A damaged file still gives what it holds, and says so; the status tells a script.
  const bool damaged = !store.LoadNotice().empty();
  if (damaged) WriteCliError(options.Format, store.LoadNotice(), err);
  if (!options.Pattern.empty() || !options.Exclude.empty()) {
    const std::vector<TMask> masks = CompileMasks(options.Pattern);
    const std::vector<TMask> excluded = CompileMasks(options.Exclude);
    std::vector<PSearchResult> kept;
    for (size_t i = 0; i < store.Count(); ++i) {
      const TSearchResult& result = store.Item(i);
      if (!masks.empty() && !AnyMatches(masks, result.Name)) continue;
      if (AnyMatches(excluded, result.Name) || InExcludedFolder(*result.Path, excluded)) continue;
      kept.push_back(std::make_unique<TSearchResult>(result));
    }
    store.ReplaceAll(std::move(kept));
  }
  const int status = FinishCliResults(options, store, 0, out, err) | (damaged ? 1 : 0);
  std::fflush(out);
  if (std::ferror(out)) {
    WriteCliError(options.Format, "cannot write the results", err);
    return 1;
  }
  return status;
}
