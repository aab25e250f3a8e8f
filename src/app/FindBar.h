#pragma once
// The console's find bar, under the log: a text or an RE2 pattern, case, and which lines (all, Tx,
// Rx). Enter and F3 find the next line, Shift+Enter and Shift+F3 the previous one, Esc closes the
// bar. The found line is selected in the log, every match in view is tinted, and the bar says
// "n of m" or why nothing can be searched. LogSearch decides; this turns keys into its calls.
//
// The find and the count run in slices of a few chunks from the event loop (a zero timer), so the
// window answers while ten million lines are searched; a new query or find drops the old one's
// work. UI thread only.
#include "console/LogSearch.h"

#include <QWidget>
#include <optional>

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QTimer;
class TLogView;

class TFindBar : public QWidget {
public:
    TFindBar(TLogView& log, QWidget* parent);

    // Shows the bar with its text selected for typing over.
    void Open();
    void Close();
    // Finds the next (or previous) match after (before) the log's selection.
    void FindNext(bool forward);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Esc on any control of the bar that does not take it.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void ApplyQuery();
    void Work();
    void Step();
    void ShowFound(std::size_t line);
    void ShowCount();
    void Say(const QString& text, bool problem = false);

    TLogView& log_;
    LogSearch search_;
    QLineEdit* edit_ = nullptr;
    QCheckBox* pattern_ = nullptr;
    QCheckBox* matchCase_ = nullptr;
    QComboBox* lines_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* work_ = nullptr;
    bool finding_ = false;             //!< A find is under way in slices.
    bool counted_ = true;              //!< Every full chunk is counted for the query.
    std::optional<std::size_t> shown_; //!< The line last found, for its number.
};
