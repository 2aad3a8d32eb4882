#pragma once
// What the window remembers beside the main window's placement, in the same settings
// file: the result list's column widths, the Options dialog's size and the address
// ranges added to its tree. Each is a value of its own, absent until first saved; an
// absent or damaged value leaves the window as it was without it. UI thread only.
//
//   MainWindow\ResultColumnWidths  REG_SZ, the widths of the columns after "File name",
//                                  comma-separated ("70,70,70,100")
//   MainWindow\OptionsWidth, OptionsHeight  REG_DWORD, the dialog's size
//   Options\AddressRanges          REG_SZ, the ranges added, comma-separated
#include <QSize>

#include <optional>
#include <string>
#include <vector>

#include "hive/registry.h"

// Saved column widths, in column order after the first; empty when none were saved.
std::vector<int> LoadResultColumnWidths(TRegistryHive& hive = CurrentUserHive());
void SaveResultColumnWidths(const std::vector<int>& widths, TRegistryHive& hive = CurrentUserHive());

std::optional<QSize> LoadOptionsSize(TRegistryHive& hive = CurrentUserHive());
void SaveOptionsSize(const QSize& size, TRegistryHive& hive = CurrentUserHive());

std::vector<std::string> LoadAddressRanges(TRegistryHive& hive = CurrentUserHive());
void SaveAddressRanges(const std::vector<std::string>& ranges, TRegistryHive& hive = CurrentUserHive());
