#pragma once
// The console's Help menu: the batch language and the keyboard, each a text file installed with
// the program (share/corvane/help, found from the program's own folder), shown in a read-only
// viewer of its own (the shared editor keeps the operator's text); and About, with the version and
// where the README is on disk. Everything here runs on the UI thread.
#include <QObject>
#include <QString>
#include <functional>

class QDialog;
class QMenuBar;
class QPlainTextEdit;
class QWidget;

class THelpMenu : public QObject {
public:
    // Adds the menu at the end of bar; window owns it and the viewer. programFolder gives the
    // folder the program runs from, where the texts and the installed README are looked for.
    THelpMenu(QWidget& window, QMenuBar& bar, std::function<QString()> programFolder);

    // The README on disk: the installed doc folder beside the program's, else the source tree
    // the program was built from; empty when neither holds one.
    QString ReadmePath() const;

private:
    void ShowText(const QString& caption, const QString& fileName);
    void ShowAbout();

    QWidget& window_;
    std::function<QString()> programFolder_;
    QDialog* viewer_ = nullptr;
    QPlainTextEdit* text_ = nullptr;
};
