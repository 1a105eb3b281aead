// SPDX-License-Identifier: MIT
#pragma once
// The port settings dialog with the port search. Created per use by the main window's port
// settings command and released when it ends.

#include <QDialog>

#include <functional>

class AppContext;
class PortCandidates;
class PortSearch;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

class TfrmCom final : public QDialog {
    Q_OBJECT
public:
    // probe: the "My RFch" command without its port-open step, sent to each port the search
    // opens. candidates may be null; the port list and the search then use COM1 and up.
    TfrmCom(AppContext& context, const PortCandidates* candidates, std::function<void()> probe,
            QWidget* owner);
    ~TfrmCom() override;

    // Handlers, public so that tests reach them as the buttons do.
    void formShow();
    void btnOKClick();
    void btnCancelClick();
    void btnPortClick();
    [[nodiscard]] bool searching() const { return m_search != nullptr; }

    // A Cancel or close during a search waits for the search to end at its next wait.
    void reject() override;

    QGroupBox* gbxParam = nullptr;
    QPushButton* btnPort = nullptr;
    QComboBox* cmbPort = nullptr;
    QLabel* lblBound = nullptr;
    QComboBox* cmbBound = nullptr;
    QLabel* lblDatBit = nullptr;
    QComboBox* cmbDatBit = nullptr;
    QLabel* lblParity = nullptr;
    QComboBox* cmbParity = nullptr;
    QLabel* lblStopBit = nullptr;
    QComboBox* cmbStopBit = nullptr;
    QGroupBox* gbxSend = nullptr;
    QLabel* lblSendHead = nullptr;
    QComboBox* cmbSendHead = nullptr;
    QLabel* lblSendDlmt = nullptr;
    QComboBox* cmbSendDlmt = nullptr;
    QGroupBox* gbxRecv = nullptr;
    QLabel* lblRecvDlmt = nullptr;
    QComboBox* cmbRecvDlmt = nullptr;
    QLabel* lblRecvTout = nullptr;
    QLineEdit* edtRecvTout = nullptr;
    QLabel* lblRecvToutUnit = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edtLFSize = nullptr;
    QLabel* Label2 = nullptr;
    QProgressBar* prgBar = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void fillPortList();
    void showPortHint();
    void setSearching(bool on);
    // The port list offered before the first search: the ports present, or COM1..COM8.
    [[nodiscard]] bool hasCandidates() const { return m_candidates != nullptr; }

    AppContext& m_ctx;
    const PortCandidates* m_candidates;
    std::function<void()> m_probe;
    PortSearch* m_search = nullptr;
    bool m_rejectWhenSearchEnds = false;
};
