#pragma once
// The port settings dialog with the port search. Created per use by the main window's port
// settings command and released when it ends.

#include <QDialog>

#include <functional>

class AppContext;
class PortCandidates;

class TfrmCom final : public QDialog {
    Q_OBJECT
public:
    // probe: the "My RFch" command without its port-open step, sent to each port the search
    // opens.
    TfrmCom(AppContext& context, const PortCandidates* candidates, std::function<void()> probe,
            QWidget* owner);
    ~TfrmCom() override;

private:
    AppContext& m_ctx;
    const PortCandidates* m_candidates;
    std::function<void()> m_probe;
};
