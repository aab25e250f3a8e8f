#include "app/FindBar.h"

#include "log/LogView.h"
#include "platform/QtPlatform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace {
// Chunks of the store per slice: each is 256 KiB of text, a fraction of a millisecond to unpack and
// search, so a slice keeps well inside a frame.
constexpr std::size_t SliceChunks = 16;

bool HoldsOnlyLatin1(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}
} // namespace

TFindBar::TFindBar(TLogView& log, QWidget* parent) : QWidget(parent), log_(log), search_(log.Lines()) {
    setObjectName("FindBar");
    BuildControls();
    work_ = new QTimer(this);
    work_->setInterval(0);
    connect(work_, &QTimer::timeout, this, [this] { Guarded([this] { Work(); }); });
    log_.SetRowTint(
        [this](qint64 row) { return isVisible() && search_.Matches(static_cast<std::size_t>(row)); });
    hide();
}

void TFindBar::BuildControls() {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    edit_ = new QLineEdit(this);
    edit_->setObjectName("EditFind");
    edit_->setPlaceholderText(tr("Find in the log"));
    edit_->installEventFilter(this);
    pattern_ = new QCheckBox(tr("Pattern"), this);
    pattern_->setObjectName("CheckBoxFindPattern");
    pattern_->setToolTip(tr("The text is a regular expression in RE2 syntax"));
    matchCase_ = new QCheckBox(tr("Match case"), this);
    matchCase_->setObjectName("CheckBoxFindCase");
    lines_ = new QComboBox(this);
    lines_->setObjectName("ComboBoxFindLines");
    lines_->addItems({tr("All lines"), tr("Tx lines"), tr("Rx lines")});
    status_ = new QLabel(this);
    status_->setObjectName("LabelFindStatus");
    status_->setTextFormat(Qt::PlainText);
    auto* previous = new QToolButton(this);
    previous->setArrowType(Qt::UpArrow);
    previous->setToolTip(tr("Previous match (Shift+F3)"));
    auto* next = new QToolButton(this);
    next->setArrowType(Qt::DownArrow);
    next->setToolTip(tr("Next match (F3)"));
    auto* close = new QToolButton(this);
    close->setText(tr("Close"));
    close->setToolTip(tr("Close the find bar (Esc)"));
    layout->addWidget(edit_, 1);
    for (QWidget* control : std::initializer_list<QWidget*>{previous, next, pattern_, matchCase_, lines_})
        layout->addWidget(control);
    layout->addWidget(status_, 1);
    layout->addWidget(close);

    auto guard = [](auto handler) { return [handler] { Guarded(handler); }; };
    connect(edit_, &QLineEdit::textChanged, this, guard([this] { ApplyQuery(); }));
    connect(pattern_, &QCheckBox::toggled, this, guard([this] { ApplyQuery(); }));
    connect(matchCase_, &QCheckBox::toggled, this, guard([this] { ApplyQuery(); }));
    connect(lines_, &QComboBox::currentIndexChanged, this, guard([this] { ApplyQuery(); }));
    connect(previous, &QToolButton::clicked, this, guard([this] { FindNext(false); }));
    connect(next, &QToolButton::clicked, this, guard([this] { FindNext(true); }));
    connect(close, &QToolButton::clicked, this, guard([this] { Close(); }));
    // F3 works wherever the focus is in the window while the bar is open (a hidden parent keeps
    // its shortcuts off).
    auto* findNext = new QShortcut(QKeySequence(Qt::Key_F3), this, guard([this] { FindNext(true); }));
    auto* findPrevious =
        new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this, guard([this] { FindNext(false); }));
    findNext->setContext(Qt::WindowShortcut);
    findPrevious->setContext(Qt::WindowShortcut);
}

void TFindBar::Open() {
    show();
    edit_->setFocus();
    edit_->selectAll();
    log_.viewport()->update();
}

void TFindBar::Close() {
    work_->stop();
    finding_ = false;
    hide();
    log_.viewport()->update();
    log_.setFocus();
}

// Every change of the query starts its count over; the log is searched only on Enter or F3, since
// a pass over a long log on every key would be wasted.
void TFindBar::ApplyQuery() {
    finding_ = false;
    shown_.reset();
    FindQuery query{FromQt(edit_->text()), pattern_->isChecked(), matchCase_->isChecked(),
                    static_cast<FindLines>(lines_->currentIndex())};
    std::string problem = search_.SetQuery(query);
    if (problem.empty() && !HoldsOnlyLatin1(edit_->text())) {
        problem = "the log holds 8-bit (Latin-1) text; this text has characters beyond it";
        search_.SetQuery({});
    }
    counted_ = !search_.Ready();
    if (counted_) {
        work_->stop();
    } else {
        work_->start();
    }
    Say(ToQt(problem), !problem.empty());
    log_.viewport()->update();
}

void TFindBar::FindNext(bool forward) {
    if (!isVisible()) Open();
    if (!search_.Ready()) return;
    qint64 from = -1;
    if (log_.HasSelection()) from = forward ? log_.SelectionLast() : log_.SelectionFirst();
    search_.BeginFind(static_cast<std::ptrdiff_t>(from), forward);
    finding_ = true;
    // Lines that came since the count ended are counted now.
    counted_ = false;
    Step();
    if (finding_ || !counted_) work_->start();
}

void TFindBar::Work() {
    Step();
    if (!finding_ && counted_) work_->stop();
}

// One slice: the find first, as the operator waits for it; the count after.
void TFindBar::Step() {
    if (finding_) {
        switch (search_.StepFind(SliceChunks)) {
        case LogSearch::Progress::Found:
            finding_ = false;
            ShowFound(search_.FoundLine());
            break;
        case LogSearch::Progress::NotFound:
            finding_ = false;
            shown_.reset();
            Say(tr("no match"));
            break;
        case LogSearch::Progress::Pending:
            Say(tr("searching..."));
            break;
        }
        return;
    }
    if (!counted_) {
        counted_ = search_.StepCount(SliceChunks);
        if (counted_ && shown_) ShowCount();
    }
}

void TFindBar::ShowFound(std::size_t line) {
    shown_ = line;
    log_.ShowRow(static_cast<qint64>(line));
    ShowCount();
}

void TFindBar::ShowCount() {
    if (!shown_) return;
    const std::optional<std::size_t> number = search_.Number(*shown_);
    const std::optional<std::size_t> total = search_.Total();
    const QString unknown = QStringLiteral("\u2026");
    Say(tr("%1 of %2")
            .arg(number ? QString::number(*number) : unknown, total ? QString::number(*total) : unknown));
}

void TFindBar::Say(const QString& text, bool problem) {
    status_->setStyleSheet(problem ? QStringLiteral("color: red;") : QString());
    status_->setText(text);
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edit_) return QWidget::eventFilter(watched, event);
    // Ctrl+F in the bar selects its text, whatever else in the window has that shortcut.
    if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event) == QKeySequence::Find) {
        event->accept();
        return true;
    }
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    bool handled = false;
    Guarded([&] {
        if (key == QKeySequence::Find) {
            Open();
            handled = true;
        } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FindNext(!(key->modifiers() & Qt::ShiftModifier));
            handled = true;
        } else if (key->key() == Qt::Key_Escape) {
            Close();
            handled = true;
        }
    });
    return handled;
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        QWidget::keyPressEvent(event);
        return;
    }
    Guarded([this] { Close(); });
}
