// SPDX-License-Identifier: MIT
#pragma once
// The survey window. Created hidden at start-up; the main menu's "Survey Panel" shows it. A run
// lasts while btnStart is down; the main window's clock times it and SurveyTally does the
// counting, so this window only wires controls to those and shows the results.

#include <QDialog>
#include <array>

#include "session/receive_pipeline.h"
#include "core/survey_tally.h"

class AppContext;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QWidget;

class TfrmSurvey final : public QDialog, public KeyFrameTarget {
    Q_OBJECT
public:
    // The monitor is cleared when a run starts; the window opens centred on its parent.
    TfrmSurvey(AppContext& context, MonitorView& monitor, QWidget* parent = nullptr);

    // Key frames reach the survey while the window is shown.
    [[nodiscard]] bool wantsKeyFrames() const override { return m_shownFlag; }
    // The survey key input: counted only while a run lasts.
    void keyFrameReceived(const QString& renderedText) override;

    // The main window's 500 ms clock tick times a survey run.
    void clockTick();

    // Handlers, public so that tests reach them as the controls do.
    void btnStartClick();
    void btnCloseClick();
    void sBarDblClick();

    [[nodiscard]] bool running() const;
    [[nodiscard]] const SurveyTally& tally() const { return m_tally; }

    // Controls, named as the rest of the program knows them.
    QWidget* pnlTop = nullptr;
    QTableWidget* sGrid = nullptr;
    QStatusBar* sBar = nullptr;
    QLabel* sBarPanel0 = nullptr;
    QLabel* sBarPanel1 = nullptr;
    std::array<QLabel*, kSurveyKeys> pnlKey{};
    std::array<QLabel*, kSurveyKeys> pnlKct{};
    QPushButton* btnClose = nullptr;
    QProgressBar* prgBar = nullptr;
    QPushButton* btnStart = nullptr;
    QLineEdit* edtTout = nullptr;
    QLabel* Label1 = nullptr;
    QCheckBox* ckKeyChange = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildTopPanel();
    void buildGrid();
    void buildStatusBar();
    void formCreate();
    void firstShow();
    void stop();
    void reset();
    void gridSetUp();
    void gridClear();
    void showRow(int row);
    void showCounters();
    void centreOnMain();

    AppContext& m_ctx;
    MonitorView& m_monitor;
    SurveyTally m_tally;
    // prgBar's true maximum: the bar itself never gets 0, which Qt draws as a busy indicator.
    int m_runMaximum = 0;
    bool m_shownFlag = false;
};
