#pragma once
// A result list as a page holds it (view, model, store, actions, popup menu) with the
// result commands connected, and every outside effect caught: URLs opened, file dialogs
// asked, drag loops run, find dialogs shown and message boxes.
#include <QAction>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

#include "page/find_form.h"
#include "page/message_box.h"
#include "page/result_actions.h"
#include "page/result_model.h"
#include "results/result_manager.h"
#include "test_result_list_qt_app.h"

struct TResultRow {
  const char* Path;
  const char* Name;
  int64_t Size;
  double DateTime;
  uint32_t Attr;
};

class TResultListHarness {
 public:
  explicit TResultListHarness(const std::vector<TResultRow>& rows = {}) {
    EnsureResultListApp();
    Page = std::make_unique<QWidget>();
    View = new QTableView(Page.get());
    View->resize(600, 400);
    Menu = new QMenu(Page.get());
    Model = new TResultModel(Store, Page.get());
    View->setModel(Model);
    const char* const sortCaptions[6] = {"Path", "File name", "Size", "Date", "Time", "Attr"};
    for (int i = 0; i < 6; ++i) Sorts[i] = new QAction(sortCaptions[i], Page.get());
    TResultListParts parts;
    parts.Page = Page.get();
    parts.lvResults = View;
    parts.popMain = Menu;
    parts.Store = &Store;
    parts.Model = Model;
    parts.actOpenFile = OpenFile = new QAction("Open file", Page.get());
    parts.actBrowseDir = BrowseDir = new QAction("Open folder", Page.get());
    parts.actSaveToFile = SaveToFile = new QAction("Save results", Page.get());
    parts.actLoadFromFile = LoadFromFile = new QAction("Load result", Page.get());
    parts.actExport = Export = new QAction("Export results", Page.get());
    parts.actSort = Sorts;
    parts.actClearResults = ClearResults = new QAction("Clear results", Page.get());
    parts.actFastFind = FastFind = new QAction("Find in results", Page.get());
    parts.Searching = [this] { return Searching; };
    parts.SyncResultCount = [this] { Model->SetRowCount(int(Store.Count())); Model->Flush(); };
    parts.ClearResultsAndLog = [this] { ++Clears; };
    Actions = std::make_unique<TResultListActions>(std::move(parts));
    Actions->OpenUrl = [this](const QUrl& url) { Opened.push_back(url); };
    Actions->AskFileName = [this](const TFileDialogRequest& request) {
      Asked.push_back(request);
      return Answer;
    };
    Actions->RunDragLoop = [this](IDataObject* data, IDropSource*, uint32_t okEffects, uint32_t* effect) {
      ++Drags;
      DragEffects = okEffects;
      FORMATETC format = kFileDropFormats[0];
      STGMEDIUM medium;
      if (data->GetData(&format, &medium) == S_OK) DraggedBlock = medium.hGlobal->Data();
      DraggingDuringLoop = Actions->Dragging;
      *effect = DROPEFFECT_COPY;
      return DragResult;
    };
    Actions->ShowModal = [this](TFindForm& dialog) {
      FindTexts.push_back(dialog.edtFind->text());
      FindTags.push_back(dialog.Tag);
      dialog.close();  // deletes it
    };
    PreviousHook = SetMessageBoxHook([this](const TMessageBoxRequest& request) {
      Boxes.push_back(request);
      return TMsgResult::Ok;
    });
    SetRows(rows);
  }

  ~TResultListHarness() {
    SetMessageBoxHook(PreviousHook);
    Actions.reset();
    Page.reset();  // the view and the model go before the store
  }

  void SetRows(const std::vector<TResultRow>& rows) {
    std::vector<PSearchResult> records;
    for (const TResultRow& row : rows) {
      auto record = std::make_unique<TSearchResult>();
      record->Path = std::make_shared<const std::string>(row.Path);
      record->Name = row.Name;
      record->Size = row.Size;
      record->DateTime = row.DateTime;
      record->Attr = row.Attr;
      records.push_back(std::move(record));
    }
    Store.ReplaceAll(std::move(records));
    Model->SetRowCount(int(Store.Count()));
    Model->Flush();
    Actions->UpdateActions();  // the page does so at its next idle moment
  }

  void SelectRows(std::initializer_list<int> rows) {
    View->clearSelection();
    for (int row : rows)
      View->selectionModel()->select(Model->index(row, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
  }

  // The first column of every row, as the view shows it.
  std::vector<std::string> Shown() const {
    std::vector<std::string> names;
    for (int row = 0; row < Model->rowCount(); ++row)
      names.push_back(Model->data(Model->index(row, 0)).toString().toStdString());
    return names;
  }

  std::unique_ptr<QWidget> Page;
  QTableView* View = nullptr;
  QMenu* Menu = nullptr;
  TResultManager Store;
  TResultModel* Model = nullptr;
  QAction* OpenFile = nullptr;
  QAction* BrowseDir = nullptr;
  QAction* SaveToFile = nullptr;
  QAction* LoadFromFile = nullptr;
  QAction* Export = nullptr;
  std::array<QAction*, 6> Sorts{};
  QAction* ClearResults = nullptr;
  QAction* FastFind = nullptr;
  std::unique_ptr<TResultListActions> Actions;

  bool Searching = false;
  int Clears = 0;
  std::vector<QUrl> Opened;
  std::vector<TFileDialogRequest> Asked;
  QString Answer;
  int Drags = 0;
  uint32_t DragEffects = 0;
  bool DraggingDuringLoop = false;
  HRESULT DragResult = DRAGDROP_S_DROP;
  std::vector<uint8_t> DraggedBlock;
  std::vector<QString> FindTexts;
  std::vector<int32_t> FindTags;
  std::vector<TMessageBoxRequest> Boxes;
  TMessageBoxHook PreviousHook;
};
