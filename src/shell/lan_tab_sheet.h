#pragma once
// TLanTabSheet: one tab of the main window's page control. It owns the search page it
// hosts (Page), which fills it; destroying the sheet destroys the page.
#include <QWidget>

#include <string>
#include <vector>

class TLan02;

class TLanTabSheet : public QWidget {
  Q_OBJECT

 public:
  // Creates the sheet and its page; the page shares inputHistory (see TLan02).
  TLanTabSheet(QWidget* parent, std::vector<std::string>& inputHistory);
  ~TLanTabSheet() override;

  TLan02* Page = nullptr;
};
