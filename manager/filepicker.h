// The file dialogs of the configuration pages, behind an interface that tests answer.
#pragma once
#include <QString>

#include <optional>

class QWidget;

namespace vtx::manager {

class IFilePicker {
 public:
  virtual ~IFilePicker() = default;
  // An existing file, starting in `folder`; nothing when the user cancels. `filter` in Qt's
  // syntax ("Programs (*.sh);;All files (*)").
  virtual std::optional<QString> OpenFile(QWidget* owner, const QString& folder, const QString& filter) = 0;
  // A file to write to, starting at `path` (a folder, or a folder and a name); a file that
  // exists is taken without asking, as it is appended to.
  virtual std::optional<QString> SaveFile(QWidget* owner, const QString& path, const QString& filter) = 0;
};

// The picker in use: Qt's file dialog unless a test set another.
IFilePicker& FilePicker();
// Tests: `picker` answers until it is reset with null.
void SetFilePicker(IFilePicker* picker);

}  // namespace vtx::manager
