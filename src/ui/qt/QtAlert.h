#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "ui/Host.h"

class QCheckBox;
class QDialog;
class QLineEdit;
class QPushButton;

namespace orvel::ui {

// An alert as a small dialog: the style's symbol, the message and its explanation, an optional
// checkbox or secure field, and the buttons with the first as the default on the right. It runs
// in the main loop's modal mode, so default-mode timers wait while it is up.
class QtAlert final : public Alert {
  public:
    explicit QtAlert(AlertContent request);
    ~QtAlert() override;

    const AlertContent& content() const override { return content_; }
    int runModal() override;
    bool isRunning() const override { return running_; }
    void setButtonTitle(std::size_t index, std::string title) override;
    void stopModal(int response) override;
    bool checkboxState() const override;
    std::string secureText() const override;

    // The dialog while the alert runs (for tests that look at it or answer it).
    QDialog* dialog() const { return dialog_.get(); }
    QPushButton* button(std::size_t index) const;
    QCheckBox* checkbox() const { return checkbox_; }

  private:
    void build();

    AlertContent content_;
    std::unique_ptr<QDialog> dialog_;
    std::vector<QPushButton*> buttons_;
    QCheckBox* checkbox_ = nullptr;
    QLineEdit* secure_ = nullptr;
    bool running_ = false;
    bool checked_ = false;
    std::string secureText_;
    std::optional<int> response_;
};

}  // namespace orvel::ui
