#pragma once
// The "Enter Parameter Value" dialog that asks for one parameter of a command before a bookmark
// button sends it, and the prompt interface over it. UI thread only; each question is modal.
#include "text/Strtools.h"

#include <QDialog>
#include <memory>
#include <string>

namespace Ui {
class TParamPromptDialog;
}

class TParamPromptDialog : public QDialog {
public:
    explicit TParamPromptDialog(QWidget* parent = nullptr);
    ~TParamPromptDialog() override;

    // Shows the command and the name of its parameter (wrapped when long) and offers value, all
    // of it selected so typing replaces it.
    void Offer(const std::string& command, const std::string& name, const std::string& value);
    std::string Value() const;

private:
    std::unique_ptr<Ui::TParamPromptDialog> ui_;
};

// Asks with a TParamPromptDialog centred on the screen; errors go to the modal boxes.
class QtParamPromptUi : public ParamPromptUi {
public:
    bool AskValue(const std::string& command, const std::string& name, std::string& value) override;
    void ShowError(const std::string& message) override;
};
