#include "app/HelpMenu.h"

#include "CorvaneInstallDirs.h"
#include "CorvaneVersion.h"
#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <utility>

namespace {
QAction* AddItem(QMenu& menu, const char* name, const QString& text) {
    QAction* action = menu.addAction(text);
    action->setObjectName(name);
    return action;
}
} // namespace

THelpMenu::THelpMenu(QWidget& window, QMenuBar& bar, std::function<QString()> programFolder)
    : QObject(&window), window_(window), programFolder_(std::move(programFolder)) {
    QMenu* menu = bar.addMenu(tr("&Help"));
    menu->setObjectName("MenuItemHelp");
    connect(AddItem(*menu, "miBatchLanguage", tr("&Batch language")), &QAction::triggered, this,
            [this] { Guarded([this] { ShowText(tr("Batch language"), "batch-language.txt"); }); });
    connect(AddItem(*menu, "miKeyboard", tr("&Keyboard")), &QAction::triggered, this,
            [this] { Guarded([this] { ShowText(tr("Keyboard"), "keyboard.txt"); }); });
    connect(AddItem(*menu, "miAbout", tr("&About")), &QAction::triggered, this,
            [this] { Guarded([this] { ShowAbout(); }); });
}

QString THelpMenu::ReadmePath() const {
    for (const QString& path : {QDir(programFolder_()).filePath(CORVANE_DOC_FROM_BIN "/README.md"),
                                QStringLiteral(CORVANE_SOURCE_DIR "/README.md")}) {
        if (QFileInfo(path).isFile()) return QDir::cleanPath(path);
    }
    return {};
}

// One viewer for both texts, not modal, so the operator can keep it open beside the console.
void THelpMenu::ShowText(const QString& caption, const QString& fileName) {
    QFile file(QDir(programFolder_()).filePath(CORVANE_DATA_FROM_BIN "/help/" + fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        Boxes().Error(FromQt(caption),
                      PathFromQt(QDir::cleanPath(file.fileName())) + ": " + FromQt(file.errorString()));
        return;
    }
    if (!viewer_) {
        viewer_ = new QDialog(&window_);
        viewer_->setObjectName("HelpViewer");
        viewer_->resize(720, 560);
        text_ = new QPlainTextEdit(viewer_);
        text_->setObjectName("HelpText");
        text_->setReadOnly(true);
        text_->setFont(ConsoleFont(10));
        text_->setLineWrapMode(QPlainTextEdit::NoWrap);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, viewer_);
        connect(buttons, &QDialogButtonBox::rejected, viewer_, &QDialog::close);
        auto* layout = new QVBoxLayout(viewer_);
        layout->addWidget(text_);
        layout->addWidget(buttons);
    }
    viewer_->setWindowTitle(caption);
    text_->setPlainText(QString::fromUtf8(file.readAll()));
    viewer_->show();
    viewer_->raise();
}

void THelpMenu::ShowAbout() {
    const QString readme = ReadmePath();
    const QString text =
        tr("Corvane %1\n\nThe README: %2").arg(CORVANE_VERSION, readme.isEmpty() ? tr("not found") : readme);
    Boxes().Information(FromQt(tr("About Corvane")), FromQt(text));
}
