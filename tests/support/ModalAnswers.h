#pragma once
// Answers the modal dialogs of the command-button field in the operator's place: the file
// dialogs and the "Enter Parameter Value" dialog. For window tests only (needs a QApplication).
#include "platform/QtPlatform.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// Runs act on the next modal window once it shows. The poll belongs to owner.
inline void WhenModal(QObject* owner, std::function<void(QWidget*)> act) {
    auto* poll = new QTimer(owner);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act(modal);
    });
    poll->start(5);
}

// What a file dialog showed when it was answered.
struct FileDialogSeen {
    std::string title;
    std::string offered; // the file it was opened on
    bool shown = false;
};

// Chooses path in the next file dialog, typed as a whole path ("" cancels).
inline void AnswerFileDialog(QObject* owner, const std::string& path, FileDialogSeen* seen = nullptr) {
    WhenModal(owner, [path, seen](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        if (seen) *seen = {FromQt(dialog->windowTitle()), PathFromQt(dialog->selectedFiles().value(0)), true};
        if (path.empty()) return dialog->reject();
        // The pre-set file may already be selected in the listing, which outranks typed text.
        for (auto* view : dialog->findChildren<QAbstractItemView*>())
            if (view->selectionModel()) view->selectionModel()->clearSelection();
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText(PathToQt(path));
        ASSERT_EQ(dialog->selectedFiles(), QStringList{PathToQt(path)});
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept, which checks the name
    });
}

// What the parameter dialog showed when it was answered.
struct PromptSeen {
    std::string title, name, value, selected;
    int maxLength = 0;
};

// Answers the next parameter dialog: types answer over the selected offer and presses Enter, or
// presses Esc when there is no answer.
inline void AnswerPrompt(QObject* owner, std::optional<std::string> answer,
                         std::vector<PromptSeen>* seen = nullptr) {
    WhenModal(owner, [answer, seen](QWidget* modal) {
        ASSERT_EQ(modal->objectName(), "ParamPromptDialog");
        auto* edit = modal->findChild<QLineEdit*>("EditValue");
        ASSERT_NE(edit, nullptr);
        if (seen)
            seen->push_back({FromQt(modal->windowTitle()),
                             FromQt(modal->findChild<QLabel*>("LabelName")->text()), FromQt(edit->text()),
                             FromQt(edit->selectedText()), edit->maxLength()});
        if (!answer) return QTest::keyClick(edit, Qt::Key_Escape);
        QTest::keyClicks(edit, ToQt(*answer));
        QTest::keyClick(edit, Qt::Key_Return);
    });
}
