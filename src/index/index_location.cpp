#include "index/index_location.h"

#include <cstddef>

namespace {

bool IsUnc(std::string_view s) { return s.size() >= 2 && s[0] == '\\' && s[1] == '\\'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// The parts of a normalised UNC name after its two leading backslashes.
struct TUncParts {
  std::string_view Server, Share, Rest;  // Rest: the folders below the share, no leading "\"
  bool HasShare = false, HasRest = false;
};

TUncParts SplitUnc(std::string_view unc) {
  TUncParts parts;
  std::string_view s = unc.substr(2);
  const size_t a = s.find('\\');
  parts.Server = s.substr(0, a);
  if (a == std::string_view::npos) return parts;
  s = s.substr(a + 1);
  const size_t b = s.find('\\');
  parts.Share = s.substr(0, b);
  parts.HasShare = true;
  if (b == std::string_view::npos) return parts;
  parts.Rest = s.substr(b + 1);
  parts.HasRest = true;
  return parts;
}

bool UncContains(std::string_view outer, std::string_view inner) {
  const TUncParts o = SplitUnc(outer), i = SplitUnc(inner);
  if (!EqualIgnoringAsciiCase(o.Server, i.Server)) return false;
  if (!o.HasShare) return true;
  if (!i.HasShare || !EqualIgnoringAsciiCase(o.Share, i.Share)) return false;
  if (!o.HasRest) return true;
  if (!i.HasRest) return false;
  return i.Rest == o.Rest ||
         (i.Rest.size() > o.Rest.size() && i.Rest.substr(0, o.Rest.size()) == o.Rest &&
          i.Rest[o.Rest.size()] == '\\');
}

bool LocalContains(std::string_view outer, std::string_view inner) {
  if (outer == "/") return !inner.empty() && inner[0] == '/';
  return inner == outer || (inner.size() > outer.size() && inner.substr(0, outer.size()) == outer &&
                            inner[outer.size()] == '/');
}

}  // namespace

TLocationKind LocationKindOf(std::string_view location) {
  if (!location.empty() && location[0] == '/') return TLocationKind::Local;
  if (IsUnc(location)) return TLocationKind::Unc;
  return TLocationKind::Container;
}

std::string NormalLocation(std::string_view location) {
  switch (LocationKindOf(location)) {
    case TLocationKind::Local:
      while (location.size() > 1 && location.back() == '/') location.remove_suffix(1);
      break;
    case TLocationKind::Unc:
      while (location.size() > 2 && location.back() == '\\') location.remove_suffix(1);
      break;
    case TLocationKind::Container:
      break;
  }
  return std::string(location);
}

TContainment LocationContains(std::string_view outerText, std::string_view innerText) {
  const std::string outer = NormalLocation(outerText), inner = NormalLocation(innerText);
  const TLocationKind o = LocationKindOf(outer), i = LocationKindOf(inner);
  switch (o) {
    case TLocationKind::Local:
      return i == TLocationKind::Local && LocalContains(outer, inner) ? TContainment::Yes
                                                                       : TContainment::No;
    case TLocationKind::Unc:
      return i == TLocationKind::Unc && UncContains(outer, inner) ? TContainment::Yes
                                                                   : TContainment::No;
    case TLocationKind::Container:
      if (i == TLocationKind::Local) return TContainment::No;
      if (EqualIgnoringAsciiCase(outer, inner)) return TContainment::Yes;
      if (i == TLocationKind::Unc) return TContainment::ByContent;
      return EqualIgnoringAsciiCase(outer, "network") ? TContainment::ByContent : TContainment::No;
  }
  return TContainment::No;
}

bool FolderInLocation(std::string_view location, std::string_view folder) {
  return LocationContains(location, folder) == TContainment::Yes;
}
