#pragma once
// The series dialog: up to MaxSeries rows of a name, a unit (may stay empty) and a pattern. OK takes the rows
// that are not empty, unless DefinitionsProblem finds one: then an error box says which and why, and the
// dialog stays open. UI thread.
#include "plot/ReplySeries.h"

#include <QDialog>
#include <vector>

class QLineEdit;

class TFormPlotSeries : public QDialog {
public:
    explicit TFormPlotSeries(QWidget* parent = nullptr);

    void SetDefinitions(const std::vector<SeriesDefinition>& definitions);
    std::vector<SeriesDefinition> Definitions() const;
    void accept() override;

private:
    std::vector<QLineEdit*> names_;    //!< "EditName1" ...
    std::vector<QLineEdit*> units_;    //!< "EditUnit1" ...
    std::vector<QLineEdit*> patterns_; //!< "EditPattern1" ...
};
