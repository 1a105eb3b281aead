#pragma once
// The survey window. Created hidden at start-up; the main menu's "Survey Panel" shows it.

#include <QDialog>

class TfrmSurvey final : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSurvey(QWidget* parent = nullptr);
};
