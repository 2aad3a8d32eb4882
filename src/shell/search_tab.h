#pragma once
// TSearchTab: one tab of the main window's page control. It owns the search page it
// hosts (Page), which fills it; destroying the sheet destroys the page.
#include <QWidget>

#include <string>
#include <vector>

class TSearchPage;

class TSearchTab : public QWidget {
  Q_OBJECT

 public:
  // Creates the sheet and its page; the page shares inputHistory (see TSearchPage).
  TSearchTab(QWidget* parent, std::vector<std::string>& inputHistory);
  ~TSearchTab() override;

  TSearchPage* Page = nullptr;
};
