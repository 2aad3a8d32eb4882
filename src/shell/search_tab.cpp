#include "shell/search_tab.h"

#include <QVBoxLayout>

#include "page/search_page.h"

TSearchTab::TSearchTab(QWidget* parent, std::vector<std::string>& inputHistory)
    : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  Page = new TSearchPage(this, inputHistory);
  layout->addWidget(Page);
}

TSearchTab::~TSearchTab() {
  // The page goes first, while the sheet it fills still exists.
  delete Page;
  Page = nullptr;
}
