// SPDX-License-Identifier: MIT
// Every control that answers a click or a double-click does the same through its accessible
// action, as screen readers and UI automation press it: each row runs the gesture on one fresh
// set of windows and the action on another, and the two must leave the same state behind once
// the event loop has run; the action itself only answers, so that a modal handler cannot hold
// the tool's call.
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTest>
#include <functional>

#include "support/main_window_fixture.h"
#include "ui/qt_accessibility.h"
#include "ui/qt_click_panel.h"

namespace {

enum class Gesture { Click, DoubleClick };

struct ActionCase {
    const char* what;
    std::function<void(MainWindowTest&)> prepare;
    std::function<QWidget*(MainWindowTest&)> control;
    Gesture gesture;
    QString action;
    // What the gesture changed, as text: compared between the two ways.
    std::function<QString(MainWindowTest&)> observe;
};

class AccessibleActionTest : public MainWindowTest {
public:
    QString runBy(const ActionCase& c, bool accessible) {
        survey.reset();
        rem.reset();
        window.reset();
        context.reset();
        start();
        window->show();
        int dialogs = 0;
        window->setDialogRunner([&dialogs](QDialog&) {
            ++dialogs;
            return static_cast<int>(QDialog::Rejected);
        });
        if (c.prepare) c.prepare(*this);
        QWidget* control = c.control(*this);
        if (accessible) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
            QAccessibleActionInterface* actions = iface ? iface->actionInterface() : nullptr;
            if (actions == nullptr || !actions->actionNames().contains(c.action))
                return QStringLiteral("no action ") + c.action;
            const QString before = c.observe(*this);
            actions->doAction(c.action);
            // The tool is answered first; the handler runs from the loop below.
            EXPECT_EQ(c.observe(*this).toStdString(), before.toStdString()) << c.what;
            EXPECT_EQ(dialogs, 0) << c.what;
        } else if (c.gesture == Gesture::Click) {
            QTest::mouseClick(control, Qt::LeftButton);
        } else {
            QTest::mouseDClick(control, Qt::LeftButton);
        }
        QApplication::processEvents();
        return c.observe(*this) + QStringLiteral(" dialogs=%1").arg(dialogs);
    }
};

QString flag(bool on) { return on ? QStringLiteral("on") : QStringLiteral("off"); }

void openSurveyWithMonitorText(MainWindowTest& t) {
    t.window->appendLines({QStringLiteral("a line")});
    t.window->flush();
    t.window->mmSurvey->trigger();
    t.survey->edtTout->setText(QStringLiteral("10"));
}

QString surveyRunState(MainWindowTest& t) {
    return QStringLiteral("%1 %2 monitor=%3 bar=%4")
        .arg(t.survey->btnStart->text(), flag(t.survey->btnStart->isChecked()),
             t.window->memoRecv->toPlainText(), flag(t.survey->prgBar->isVisible()));
}

TEST_F(AccessibleActionTest, ActionsDoWhatTheGesturesDo) {
    const QString press = QAccessibleActionInterface::pressAction();
    const QString toggle = QAccessibleActionInterface::toggleAction();
    const ActionCase cases[] = {
        {"survey Start begins a run", openSurveyWithMonitorText,
         [](MainWindowTest& t) { return t.survey->btnStart; }, Gesture::Click, toggle,
         surveyRunState},
        {"survey Start pressed", openSurveyWithMonitorText,
         [](MainWindowTest& t) { return t.survey->btnStart; }, Gesture::Click, press,
         surveyRunState},
        {"survey Start ends a run",
         [](MainWindowTest& t) {
             openSurveyWithMonitorText(t);
             t.survey->btnStart->click();
         },
         [](MainWindowTest& t) { return t.survey->btnStart; }, Gesture::Click, toggle,
         surveyRunState},
        {"MsgID label clears the monitor",
         [](MainWindowTest& t) {
             t.window->appendLines({QStringLiteral("a line")});
             t.window->flush();
         },
         [](MainWindowTest& t) { return t.window->lblSendMsgID; }, Gesture::Click, press,
         [](MainWindowTest& t) { return t.window->memoRecv->toPlainText(); }},
        {"SrcID label follows", nullptr, [](MainWindowTest& t) { return t.window->lblSendSrcID; },
         Gesture::Click, press,
         [](MainWindowTest& t) { return flag(t.window->srcIdFollowMode()); }},
        {"DstID label copies the received ID",
         [](MainWindowTest& t) {
             t.window->showReceivedIds({1, 2, 3, 4}, {5, 6, 7, 8});
         },
         [](MainWindowTest& t) { return t.window->lblSendDstID; }, Gesture::DoubleClick,
         kDoubleClickAction, [](MainWindowTest& t) { return t.window->edtDstID->text(); }},
        {"port panel opens the port settings", nullptr,
         [](MainWindowTest& t) { return t.window->pnlCom; }, Gesture::DoubleClick,
         kDoubleClickAction, [](MainWindowTest&) { return QString(); }},
        {"main status bar hides the send panel", nullptr,
         [](MainWindowTest& t) { return t.window->statusBar(); }, Gesture::DoubleClick,
         kDoubleClickAction,
         [](MainWindowTest& t) { return flag(t.window->pnlSend->isVisible()); }},
        {"main status panel", nullptr, [](MainWindowTest& t) { return t.window->sBarPanel1; },
         Gesture::DoubleClick, kDoubleClickAction,
         [](MainWindowTest& t) { return flag(t.window->pnlSend->isVisible()); }},
        {"key panel status bar takes the maker code",
         [](MainWindowTest& t) {
             t.window->mmKpClick(8);
             t.rem->sBarPanel1->setText(QStringLiteral("41h 42h"));
         },
         [](MainWindowTest& t) { return t.rem->sBar; }, Gesture::DoubleClick, kDoubleClickAction,
         [](MainWindowTest& t) { return t.rem->edtMakerCode->text(); }},
        {"survey status panel shows the grid", openSurveyWithMonitorText,
         [](MainWindowTest& t) { return t.survey->sBarPanel0; }, Gesture::DoubleClick,
         kDoubleClickAction, [](MainWindowTest& t) { return flag(t.survey->sGrid->isVisible()); }},
    };
    for (const ActionCase& c : cases) {
        const QString byMouse = runBy(c, false);
        const QString byAction = runBy(c, true);
        EXPECT_EQ(byAction.toStdString(), byMouse.toStdString()) << c.what;
    }
}

// A panel offers only the gestures something answers: the Src. Device ID panel shows a value.
TEST_F(AccessibleActionTest, PanelsOfferOnlyWhatTheyAnswer) {
    start();
    QAccessibleInterface* shown = QAccessible::queryAccessibleInterface(window->pnlSrcID);
    ASSERT_NE(shown, nullptr);
    ASSERT_NE(shown->actionInterface(), nullptr);
    const QStringList offered = shown->actionInterface()->actionNames();
    EXPECT_FALSE(offered.contains(QAccessibleActionInterface::pressAction()));
    EXPECT_FALSE(offered.contains(kDoubleClickAction));
    QAccessibleInterface* msgId = QAccessible::queryAccessibleInterface(window->lblSendMsgID);
    EXPECT_EQ(msgId->actionInterface()->actionNames().first(),
              QAccessibleActionInterface::pressAction());
}

}  // namespace
