#include "manager/filepicker.h"

#include <QFileDialog>

namespace vtx::manager {

namespace {

class QtFilePicker : public IFilePicker {
 public:
  std::optional<QString> OpenFile(QWidget* owner, const QString& folder, const QString& filter) override {
    QString path = QFileDialog::getOpenFileName(owner, QString(), folder, filter);
    if (path.isEmpty()) return std::nullopt;
    return path;
  }
  std::optional<QString> SaveFile(QWidget* owner, const QString& path, const QString& filter) override {
    QString chosen = QFileDialog::getSaveFileName(owner, QString(), path, filter, nullptr,
                                                  QFileDialog::DontConfirmOverwrite);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
  }
};

IFilePicker* g_picker = nullptr;

}  // namespace

IFilePicker& FilePicker() {
  static QtFilePicker dialog;
  return g_picker ? *g_picker : dialog;
}

void SetFilePicker(IFilePicker* picker) { g_picker = picker; }

}  // namespace vtx::manager
