#include "plot/FplotSeries.h"

#include "platform/ModalBoxes.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

TFormPlotSeries::TFormPlotSeries(QWidget* parent) : QDialog(parent) {
    setObjectName("FormPlotSeries");
    setWindowTitle("Plot Series");
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Name"), 0, 0);
    grid->addWidget(new QLabel("Unit"), 0, 1);
    grid->addWidget(
        new QLabel("Pattern (RE2 syntax, one capture group around the number), e.g. ^FWD ([-+0-9.eE]+)"), 0,
        2);
    for (size_t i = 0; i < MaxSeries; ++i) {
        auto* name = new QLineEdit;
        auto* unit = new QLineEdit;
        auto* pattern = new QLineEdit;
        name->setObjectName(QString("EditName%1").arg(i + 1));
        unit->setObjectName(QString("EditUnit%1").arg(i + 1));
        unit->setMaximumWidth(80);
        pattern->setObjectName(QString("EditPattern%1").arg(i + 1));
        pattern->setMinimumWidth(320);
        const int row = static_cast<int>(i) + 1;
        grid->addWidget(name, row, 0);
        grid->addWidget(unit, row, 1);
        grid->addWidget(pattern, row, 2);
        names_.push_back(name);
        units_.push_back(unit);
        patterns_.push_back(pattern);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &TFormPlotSeries::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TFormPlotSeries::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(buttons);
}

void TFormPlotSeries::SetDefinitions(const std::vector<SeriesDefinition>& definitions) {
    for (size_t i = 0; i < MaxSeries; ++i) {
        const bool used = i < definitions.size();
        names_[i]->setText(used ? QString::fromLatin1(definitions[i].name) : QString());
        units_[i]->setText(used ? QString::fromLatin1(definitions[i].unit) : QString());
        patterns_[i]->setText(used ? QString::fromLatin1(definitions[i].pattern) : QString());
    }
}

std::vector<SeriesDefinition> TFormPlotSeries::Definitions() const {
    std::vector<SeriesDefinition> definitions;
    for (size_t i = 0; i < MaxSeries; ++i) {
        SeriesDefinition d{names_[i]->text().trimmed().toLatin1().toStdString(),
                           patterns_[i]->text().toLatin1().toStdString(),
                           units_[i]->text().trimmed().toLatin1().toStdString()};
        if (!d.name.empty() || !d.pattern.empty()) definitions.push_back(d);
    }
    return definitions;
}

void TFormPlotSeries::accept() {
    const std::string problem = DefinitionsProblem(Definitions());
    if (!problem.empty()) {
        Boxes().Error("Plot Series", "These series cannot be plotted: " + problem + ".");
        return;
    }
    QDialog::accept();
}
