// The message window's dialogs on Qt: a dialog with a read-only plain text and OK, on the GUI
// thread whichever thread asks.
#pragma once
#include <QDialog>

#include <map>
#include <memory>

#include "platform/ui.h"

class QDialogButtonBox;
class QPlainTextEdit;

namespace vtx::manager {

class MessageDialog : public QDialog {
 public:
  explicit MessageDialog(const vtx::ui::MessageDialogSpec& spec);
  // The whole text: replace shows its first line; otherwise the reader stays where he was, or
  // follows to the end when he was there.
  void SetText(const char* text, bool replace);
  QPlainTextEdit* TextControl() const { return text_; }
  void reject() override { done(IDCANCEL); }  // Escape and the window's close button

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QPlainTextEdit* text_;
  QDialogButtonBox* buttons_;
};

// The backend of platform/ui's message dialogs; created and destroyed on the GUI thread.
class QtMessageDialogs : public QObject, public vtx::ui::MessageDialogBackend {
 public:
  QtMessageDialogs();
  ~QtMessageDialogs() override;
  HRESULT Post(std::function<void()> task) override;
  HRESULT Open(const vtx::ui::MessageDialogSpec& spec, std::function<void(int)> ended,
               vtx::ui::MessageDialogId* id) override;
  void SetText(vtx::ui::MessageDialogId id, const char* text, bool replace) override;
  void Close(vtx::ui::MessageDialogId id) override;
  HRESULT ShowModal(const vtx::ui::MessageDialogSpec& spec, int* result) override;
  // An open dialog (tests and the gallery look at it); null when none has that id.
  MessageDialog* Find(vtx::ui::MessageDialogId id) const;

 private:
  bool OnGuiThread() const;
  vtx::ui::MessageDialogId next_ = 1;
  std::map<vtx::ui::MessageDialogId, MessageDialog*> open_;
};

// Installs a QtMessageDialogs for its lifetime.
class QtMessageDialogsScope {
 public:
  QtMessageDialogsScope();
  ~QtMessageDialogsScope();
  QtMessageDialogs& Dialogs() { return *dialogs_; }

 private:
  std::unique_ptr<QtMessageDialogs> dialogs_;
  vtx::ui::MessageDialogBackend* previous_;
};

}  // namespace vtx::manager
