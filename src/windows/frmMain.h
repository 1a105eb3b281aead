// SPDX-License-Identifier: MIT
#pragma once
// The main window: module configuration strip, send panel, monitor bar, monitor and status
// bar. It wires controls to the context's settings and port; the logic lives elsewhere.
// Its definitions are kept by idea: main_window_panels.cpp builds the controls,
// command_panels.cpp holds the module and send panels' handlers, monitor_view.cpp the monitor's
// buffering and pacing, inspector_pane.cpp the frame inspector and capture_wiring.cpp the
// capture's menu entry and status panel.

#include <QElapsedTimer>
#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "session/receive_pipeline.h"
#include "ui/qt_font_dialog.h"

class AppContext;
class PortCandidates;
class ClickPanel;
class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTimer;
class QWidget;
class TfrmRem;
class TfrmSurvey;

class TfrmMain final : public QMainWindow, public MonitorView, public FrameEvents {
    Q_OBJECT
public:
    explicit TfrmMain(AppContext& context, QWidget* parent = nullptr);
    ~TfrmMain() override;

    void setPeerWindows(TfrmRem* rem, TfrmSurvey* survey);
    // Shows the Option menu and the module panel's engineering controls, for the rest of the
    // run; nothing about it is saved.
    void setEngineeringMode();
    [[nodiscard]] bool engineeringMode() const { return m_engineering; }

    // Handlers, public so that the other windows and the tests reach them as the menus do.
    void tmClockTimer();
    void mmQuitClick();
    // Closes as Quit does, for a termination signal: nobody may be at the desk, so a failed
    // settings save is told on standard error only, without a box.
    void closeUnattended();
    void mmComPortClick();
    void btnComOpenClick();
    void sBarDblClick();
    void mmSurveyClick();
    void mmKpClick(int keyCount);
    void mmViewInitPnlClick();
    // Module configuration panel.
    void btnRFchClick();
    void btnToRFchClick();
    void btnInitClick();
    void btnReadClick();
    void cmbDeviceCloseUp();
    void edtSysIDKeyPress(QChar key);
    void edtProIDKeyPress(QChar key);
    void pnlSysIDDblClick();
    void pnlProIDDblClick();
    // "My RFch" without its port-open step: also the port search's probe.
    void sendMyRfch();
    [[nodiscard]] int modelRow() const { return m_modelRow; }

    void btnSendClick();
    void cmbSendKeyPress(QChar key);
    void lblSendDstIDDblClick();
    void lblSendSrcIDClick();
    void btnClearClick();
    void pnlFontDblClick();
    void mmOpenClick();
    void mmSaveClick();
    // Starts a capture, or stops the one running.
    void mmCaptureClick();
    // Returns why the capture could not start; the command line's --capture comes here.
    std::optional<QString> startCapture(const QString& path);
    void stopCapture();
    // Shows or hides the frame inspector beside the monitor, as its menu entry does.
    void setInspectorShown(bool shown);

    // The font dialog; tests replace it. Returns nothing when the user cancels.
    using FontChooser = std::function<std::optional<MonitorFont>(const MonitorFont& current)>;
    void setFontChooser(FontChooser chooser) { m_chooseFont = std::move(chooser); }
    // Runs a modal dialog; tests replace it so that nothing blocks.
    using DialogRunner = std::function<int(QDialog& dialog)>;
    void setDialogRunner(DialogRunner runner) { m_runDialog = std::move(runner); }
    // Also what the port knows its device by, to reopen the same one after it went away.
    void setPortCandidates(const PortCandidates* candidates);
    [[nodiscard]] QString openDialogName() const { return m_openName; }
    [[nodiscard]] QString saveDialogName() const { return m_saveName; }

    // A complete frame arrived: its DstID (bytes 5..8) and SrcID (bytes 9..12).
    void showReceivedIds(const std::array<std::uint8_t, 4>& dstId,
                         const std::array<std::uint8_t, 4>& srcId) override;
    void applySettingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                               std::uint8_t proLo) override;
    [[nodiscard]] ReceivePipeline& receivePipeline() { return *m_pipeline; }
    // Monitor lines as the rest of the program counts them.
    [[nodiscard]] int monitorLineCount() const { return lineCount(); }
    [[nodiscard]] bool parameterHexMode() const override;

    // MonitorView: appends are collected during a poll and shown in one edit at its end.
    [[nodiscard]] int lineCount() const override;
    void clearMonitor() override;
    void clearFullMonitor() override;
    void appendLines(const QStringList& lines) override;
    void appendUnitLines(const QStringList& lines, std::span<const std::uint8_t> unit) override;
    void showLineCount(int count) override;
    void flush() override;
    void flushSoon() override;
    [[nodiscard]] bool logTime() const override;
    [[nodiscard]] bool oneShot() const override;
    [[nodiscard]] QString clockText() const override;
    [[nodiscard]] std::uint32_t clockChangedAt() const override { return m_clockChangedAt; }
    [[nodiscard]] bool srcIdFollowMode() const { return m_srcIdFollow; }

    // What benchmarks read to time a line from the wire to the monitor: lines inserted so far,
    // and when the last insertion ended.
    struct MonitorProbe {
        std::uint64_t lines = 0;
        std::chrono::steady_clock::time_point shownAt;
    };
    [[nodiscard]] const MonitorProbe& monitorProbe() const { return m_probe; }
    // Appends closer together than this are batched into one insertion.
    static constexpr int kFlushFrameMs = 16;
    // ...and this, while the line is busy.
    static constexpr int kBusyFlushMs = 33;
    // ...and this, while each flush brings more lines than the monitor shows: a flood that
    // cannot be read, where painting is most of the cost.
    static constexpr int kFloodFlushMs = 66;

    void portPanelRefresh();
    void showModuleIds();
    [[nodiscard]] bool connectedShown() const { return m_connectedShown; }

    // Controls, named as the rest of the program knows them.
    QMenu* mmFile = nullptr;
    QAction* mmOpen = nullptr;
    QAction* mmSave = nullptr;
    QAction* mmCapture = nullptr;
    QAction* mmComPort = nullptr;
    QAction* mmQuit = nullptr;
    QAction* mmInspector = nullptr;
    QMenu* mmOption = nullptr;
    QMenu* mmRem = nullptr;
    QAction* mmSurvey = nullptr;
    QAction* mmViewInitPnl = nullptr;

    QWidget* pnlTop = nullptr;
    QComboBox* cmbRFch = nullptr;
    QComboBox* cmbRFpw = nullptr;
    QPushButton* btnRFch = nullptr;
    QPushButton* btnToRFch = nullptr;
    QLabel* lblSrcID = nullptr;
    ClickPanel* pnlSrcID = nullptr;
    QLabel* lblDstID = nullptr;
    ClickPanel* pnlDstID = nullptr;
    QLabel* lblDevice = nullptr;
    QComboBox* cmbDevice = nullptr;
    ClickPanel* pnlSysID = nullptr;
    QLineEdit* edtSysID = nullptr;
    ClickPanel* pnlProID = nullptr;
    QLineEdit* edtProID = nullptr;
    QPushButton* btnInit = nullptr;
    QPushButton* btnRead = nullptr;
    QLabel* lblBps = nullptr;
    QComboBox* cmbBps = nullptr;

    QWidget* pnlSend = nullptr;
    QPushButton* btnSend = nullptr;
    ClickPanel* lblSendMsgID = nullptr;
    QLineEdit* edtMsgID = nullptr;
    ClickPanel* lblSendDstID = nullptr;
    QLineEdit* edtDstID = nullptr;
    ClickPanel* lblSendSrcID = nullptr;
    QLineEdit* edtSrcID = nullptr;
    ClickPanel* lblSendText = nullptr;
    QComboBox* cmbSend = nullptr;
    QCheckBox* ckSendHex = nullptr;

    QWidget* pnlRecv = nullptr;
    QPushButton* btnClear = nullptr;
    QPushButton* btnComOpen = nullptr;
    ClickPanel* pnlCom = nullptr;
    ClickPanel* pnlBps = nullptr;
    ClickPanel* pnlFont = nullptr;
    QCheckBox* ckOneShot = nullptr;
    QCheckBox* ckLogTime = nullptr;
    QCheckBox* ckReconnect = nullptr;
    QLabel* pnlClock = nullptr;

    QPlainTextEdit* memoRecv = nullptr;
    QPlainTextEdit* pnlInspector = nullptr;
    QLabel* sBarPanel0 = nullptr;
    QLabel* sBarPanel1 = nullptr;
    QLabel* sBarPanel2 = nullptr;  // the running capture; hidden without one
    QTimer* tmClock = nullptr;
    QTimer* tmFlush = nullptr;

Q_SIGNALS:
    // The window has closed: settings saved, port closed. The program ends on it.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMenus();
    void buildTopPanel();
    void buildSendPanel();
    void buildMonitorBar();
    void buildMonitorAndStatus();
    void formCreate();
    void formClose();
    void showConnection(bool open);
    void openPortIfClosed();
    void openAtStart();
    void sendCommand(std::uint8_t msgId, const QByteArray& payload);
    void takeIdEntries();
    void idKeyPress(QLineEdit* box, QChar key);
    void toggleIdBox(QLineEdit* box);
    void showCapture();
    // The line count in status panel 0, and back to the panel's own size for other texts.
    void showCountInPanel0(const QString& text);
    void releasePanel0();
    void checkCapture();
    void buildInspector();
    // The pane explains the unit behind a monitor line, or the frame Send would write.
    void inspectBlock(int blockNumber);
    void inspectSendPreview();
    void showInspectorText(const QString& text);
    // Opening, the pane takes the width the user dragged it to or, never dragged, the width of
    // its lines up to half the window; until dragged, it only widens as longer lines come.
    void sizeInspector(bool opening);
    // Marks in the monitor the lines of the unit the pane explains.
    void markInspected(int blockNumber);

    AppContext& m_ctx;
    // The peers may be destroyed before this window; QPointer notices.
    QPointer<TfrmRem> m_rem;
    QPointer<TfrmSurvey> m_survey;
    bool m_connectedShown = false;
    bool m_engineering = false;
    bool m_closed = false;
    bool m_unattended = false;  // closing for a termination signal
    bool m_srcIdFollow = false;
    int m_modelRow = 0;
    // Bytes 9..12 of the last complete frame: the "Dst. Device ID" the peer command goes to.
    std::array<std::uint8_t, 4> m_dstDevice{};
    // The IDs of the latest frames reach the panels with the monitor's next flush: a flood
    // changes them at every poll, and each change would draw the top panel again.
    class IdsWithFlush final : public FrameEvents {
    public:
        explicit IdsWithFlush(TfrmMain& window) : m_window(window) {}
        void showReceivedIds(const std::array<std::uint8_t, 4>& dstId,
                             const std::array<std::uint8_t, 4>& srcId) override;
        void applySettingsResponse(std::uint8_t sysHi, std::uint8_t sysLo, std::uint8_t proHi,
                                   std::uint8_t proLo) override {
            m_window.applySettingsResponse(sysHi, sysLo, proHi, proLo);
        }

    private:
        TfrmMain& m_window;
    };
    // Shows IDs still waiting for a flush: before anything reads the panels.
    void showPendingIds();
    void dropPendingLines();
    IdsWithFlush m_idsWithFlush{*this};
    std::optional<std::pair<std::array<std::uint8_t, 4>, std::array<std::uint8_t, 4>>> m_pendingIds;
    std::unique_ptr<ReceivePipeline> m_pipeline;
    QStringList m_pendingLines;
    // The unit behind each pending line, if any; shared bytes, so wrapped lines cost nothing.
    std::vector<std::optional<QByteArray>> m_pendingUnits;
    QSplitter* m_monitorSplit = nullptr;
    enum class Inspecting { Line, SendPreview };
    Inspecting m_inspecting = Inspecting::Line;
    int m_inspectedBlock = -1;
    bool m_inspectorSizePending = false;  // opened before the window was laid out
    bool m_inserting = false;         // flush() is adding lines
    bool m_viewportTracking = false;  // the monitor's own pointer tracking, without the pane  //
                                      // the monitor line the pane explains, while it explains one
    std::optional<int> m_pendingLineCount;
    bool m_clearPending = false;  // the lines shown go with the next flush
    QElapsedTimer m_lastInsert;  // since the last flush that inserted lines
    bool m_busy = false;         // the last flush was a gathered one
    int m_lastFlushLines = 0;    // how many lines the last flush inserted
    MonitorProbe m_probe;
    std::uint32_t m_clockChangedAt = 0;
    FontChooser m_chooseFont;
    DialogRunner m_runDialog;
    const PortCandidates* m_portCandidates = nullptr;
    QString m_openName;         // what dlgOpen holds: the file last opened
    QString m_saveName;         // what dlgSave holds: the file last saved
    QString m_captureFolder;    // where the last capture went
    int m_panel0MinWidth = 70;  // room for "<port>:OFF"
    bool m_panel0Held = false;  // panel 0 holds its size while it shows line counts
};
