#pragma once
// The survey window. Created hidden at start-up; the main menu's "Survey Panel" shows it.

#include "com/receive_pipeline.h"

#include <QDialog>

class AppContext;
class TfrmMain;

class TfrmSurvey final : public QDialog, public KeyFrameTarget {
    Q_OBJECT
public:
    TfrmSurvey(AppContext& context, TfrmMain& main, QWidget* parent = nullptr);

    // Key frames reach the survey while the window is shown.
    [[nodiscard]] bool wantsKeyFrames() const override { return m_shownFlag; }
    void keyFrameReceived(const QString& renderedText) override;

    // The main window's 500 ms clock tick times a survey run.
    void clockTick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    AppContext& m_ctx;
    TfrmMain& m_main;
    bool m_shownFlag = false;
};
