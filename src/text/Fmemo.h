#pragma once
// The shared plain-text editor: one modal dialog that the button field, the conversion tables and
// the extra tools borrow. It does not interpret its text; each caller sets the caption and the
// text, shows it and reads the text back. Created once at start, it lives until the program ends,
// so its text stays from one use to the next unless a caller replaces it.
// Everything here runs on the UI thread.
#include "platform/QtPlatform.h"
#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFileDialog;
class QPlainTextEdit;
class QPushButton;
namespace Ui {
class TFormMemo;
}

class TFormMemo : public QDialog {
public:
    // owner: the window the dialog is centred over and goes with.
    explicit TFormMemo(QWidget* owner = nullptr);
    ~TFormMemo() override;

    // What callers use. Each line is a text-file line (TextFile.h): Latin-1, or UTF-8 when it
    // holds a character beyond Latin-1; the editor shows its characters either way. SetText takes
    // CR LF, LF or CR line ends, Text gives the lines joined by LF. Lines are the lines as a file
    // holds them: a final line end opens no further line, so Save as writes exactly them.
    void SetCaption(const std::string& caption);
    void SetText(const std::string& text);
    std::string Text() const;
    void SetLines(const std::vector<std::string>& lines);
    std::vector<std::string> Lines() const;
    // The modified mark: set by the operator's typing and by Open, Paste over and Clear.
    bool Modified() const;
    void SetModified(bool modified);
    // Shows the dialog modally; true when it was closed with OK.
    bool ShowModal();

    // The project navigator's part in Open and Save as while Ctrl is held: it shows the
    // navigator modally and returns false when it was not closed with OK; otherwise folder is the
    // chosen folder (empty when none). Unset, Open and Save as go straight to their file dialogs.
    std::function<bool(std::string& folder)> ProjectFolderHook;
    // Whether Ctrl is held at the moment of a command. Ctrl+O and Ctrl+S hold it by their nature.
    std::function<bool()> CtrlHeld;

    // Handlers, public so tests can drive them as the operator would.
    void FormActivate();
    void Open1Click();
    void Saveas1Click();
    void Copyall1Click();
    void Pasteover1Click();
    void Clear1Click();

protected:
    bool event(QEvent* e) override;

private:
    void ConnectHandlers();
    bool AskProjectFolder(QFileDialog& dialog);
    void ReplaceText(const QString& text);

    std::unique_ptr<Ui::TFormMemo> ui_;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* ButtonOk = nullptr;
    QPushButton* ButtonCancel = nullptr;
    LazyFileDialog OpenDialog1;
    LazyFileDialog SaveDialog1;
};

// The program's one editor dialog.
extern TFormMemo* FormMemo;
