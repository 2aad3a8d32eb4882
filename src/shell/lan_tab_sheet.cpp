#include "shell/lan_tab_sheet.h"

#include <QVBoxLayout>

#include "page/lan02.h"

TLanTabSheet::TLanTabSheet(QWidget* parent, std::vector<std::string>& inputHistory)
    : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Page = new TLan02(this, inputHistory);
  layout->addWidget(Page);
}

TLanTabSheet::~TLanTabSheet() {
  // The page goes first, while the sheet it fills still exists.
  delete Page;
  Page = nullptr;
}
