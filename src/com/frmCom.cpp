#include "com/frmCom.h"

#include "main/app_context.h"

TfrmCom::TfrmCom(AppContext& context, const PortCandidates* candidates,
                 std::function<void()> probe, QWidget* owner)
    : QDialog(owner), m_ctx(context), m_candidates(candidates), m_probe(std::move(probe)) {
    setObjectName(QStringLiteral("frmCom"));
    setWindowTitle(QStringLiteral("通信ﾊﾟﾗﾒｰﾀ設定"));
}

TfrmCom::~TfrmCom() = default;
