#pragma once
// TIcons: the shared 16 x 16 image lists, created before the main window and kept for
// the whole run. iml16 holds the 29 images of commands, tree nodes and list items (slots
// 0 to 28); iml16gray the greyed versions of slots 0 to 20 for disabled tool buttons.
// Images come from the desktop icon theme by their freedesktop names, then from the
// packaged Adwaita theme; a slot that neither has is drawn here, so no button is ever blank. Construction registers the images as the search
// pages' image source; destruction unregisters them. UI thread only.
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <vector>

inline constexpr int kImageCount = 29;
inline constexpr int kGreyedImageCount = 21;

class TIcons {
 public:
  TIcons();
  ~TIcons();
  TIcons(const TIcons&) = delete;
  TIcons& operator=(const TIcons&) = delete;

  // The image of a slot: its normal pixmap and, for slots 0 to 20, the greyed pixmap as
  // the disabled form. A slot outside 0..28 gives an empty icon.
  QIcon Icon(int slot) const;
  // The pixmaps of the two lists; empty for a slot outside the list.
  QPixmap Image16(int slot) const;
  QPixmap Image16Gray(int slot) const;
  // The theme icon name a slot's image came from; empty when it is drawn here.
  QString ThemeName(int slot) const;

  // The holder created at start-up, or null.
  static TIcons* Instance();

 private:
  std::vector<QPixmap> iml16;
  std::vector<QPixmap> iml16gray;
  std::vector<QIcon> Icons;
  std::vector<QString> ThemeNames;
};

// The icon theme that stands in for whatever the user's theme lacks.
inline constexpr char kFallbackIconTheme[] = "Adwaita";

// Makes the desktop's icon themes reachable through QIcon::fromTheme wherever the program
// runs: the freedesktop folders are searched, hicolor is the theme when the platform names
// none, and kFallbackIconTheme fills the gaps. Run before the first theme lookup; running
// it again changes nothing.
void UseDesktopIconTheme();
