// The headless tour: the program's own commands and dialogs, driven in the
// order an operator would use them, with a picture and a line per step.
#include "Tour.h"

#include <cmath>
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QTimer>

#include "ApertureListBox.h"
#include "EventLoopWait.h"
#include "InformationDlg.h"
#include "MainFrame.h"
#include "QuorvexControlPanelApp.h"
#include "QuorvexControlPanelView.h"
#include "SpectralPlot.h"
#include "StatusTexts.h"
#include "WavelengthDisplay.h"

namespace {

enum Pane { ConnectionPane, LampPane };

constexpr double kPickedWavelength = 630.0;

void Print(const QString& line) {
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Click(QWidget& target, QPointF at, bool withPress) {
    if (withPress) {
        QMouseEvent press(QEvent::MouseButtonPress, at, target.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&target, &press);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, at, target.mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &release);
}

}  // namespace

CTour::CTour(const QString& folder, std::chrono::milliseconds limit, QObject* parent)
    : QObject(parent), m_dir(folder), m_limit(limit) {}

void CTour::Schedule() { QTimer::singleShot(0, this, &CTour::Run); }

CMainFrame& CTour::Frame() const { return *theApp()->MainFrame(); }

void CTour::Run() {
    if (!theApp()->MainFrame()) {
        Print(QStringLiteral("tour: the main window did not open"));
        QCoreApplication::exit(1);
        return;
    }
    if (!QDir().mkpath(m_dir.path())) {
        Print(QStringLiteral("tour: cannot create %1").arg(m_dir.path()));
    } else {
        m_bSucceeded = Steps();
    }
    if (!m_bSucceeded) CleanUp();
    // The normal shutdown: the window disconnects (if still connected),
    // closes, and the last window closing ends the event loop.
    Frame().close();
}

bool CTour::Steps() {
    return Connect() && RampUp() && Pick630() && ChooseAperture() && Information() && RampDown() && Disconnect();
}

bool CTour::WaitFor(const std::function<bool()>& done, const QString& what) {
    // A message box a command opens ends the wait (and is closed): the tour
    // cannot answer it.
    const bool held = eventloopwait::RunUntil(
        [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_strBoxText = box->text();
                box->done(QMessageBox::Ok);
            }
            return !m_strBoxText.isEmpty() || done();
        },
        m_limit) && m_strBoxText.isEmpty();
    if (held) return true;
    if (!m_strBoxText.isEmpty()) {
        const QString text = m_strBoxText.simplified();
        m_strBoxText.clear();
        return Fail(QStringLiteral("%1: a message box said \"%2\"").arg(what, text));
    }
    return Fail(QStringLiteral("%1: not within %2 s").arg(what).arg(m_limit.count() / 1000.0));
}

bool CTour::Report(const QString& what, QWidget& shown, const QString& name) {
    QCoreApplication::processEvents();
    const QString path = m_dir.filePath(QStringLiteral("%1-%2.png").arg(m_nStep, 2, 10, QLatin1Char('0')).arg(name));
    if (!shown.grab().save(path, "PNG")) return Fail(QStringLiteral("cannot write %1").arg(path));
    Print(QStringLiteral("step %1: %2 -> %3").arg(m_nStep).arg(what, path));
    return true;
}

bool CTour::Fail(const QString& what) {
    Print(QStringLiteral("step %1: FAILED: %2").arg(m_nStep).arg(what));
    return false;
}

bool CTour::Connect() {
    m_nStep = 1;
    QAction* command = Frame().Actions().connect;
    if (!command->isEnabled()) return Fail(QStringLiteral("Connect is disabled (are the three ports set?)"));
    command->trigger();
    QLabel* pane = Frame().Pane(ConnectionPane);
    // The command marks the controller busy at once, until its sequence ends.
    if (!WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("connecting"))) return false;
    if (!Frame().Controller().State().connected || !pane->text().startsWith(QStringLiteral("Connected to ")))
        return Fail(QStringLiteral("connecting ended with \"%1\"").arg(pane->text()));
    const int points = static_cast<int>(Frame().View()->Plot()->Points().size());
    return Report(QStringLiteral("%1, %2 spectral points").arg(pane->text()).arg(points), Frame(),
                  QStringLiteral("connected"));
}

bool CTour::RampUp() {
    m_nStep = 2;
    QAction* command = Frame().Actions().rampUp;
    if (!command->isEnabled()) return Fail(QStringLiteral("Ramp Up is disabled"));
    command->trigger();
    QLabel* pane = Frame().Pane(LampPane);
    if (!WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("ramping up"))) return false;
    if (pane->text() != QLatin1String("Lamp: ON"))
        return Fail(QStringLiteral("ramping up ended with \"%1\"").arg(pane->text()));
    return Report(QStringLiteral("ramped up, %1").arg(pane->text()), Frame(), QStringLiteral("ramped-up"));
}

bool CTour::Pick630() {
    m_nStep = 3;
    CSpectralPlot& plot = *Frame().View()->Plot();
    const auto& points = plot.Points();
    int nearest = -1;
    for (int i = 0; i < static_cast<int>(points.size()); ++i)
        if (nearest < 0 || std::fabs(points[i].wavelength - kPickedWavelength) <
                               std::fabs(points[nearest].wavelength - kPickedWavelength))
            nearest = i;
    if (nearest < 0) return Fail(QStringLiteral("the plot has no points"));
    if (nearest >= static_cast<int>(plot.Geometry().screen.size()))
        return Fail(QStringLiteral("the plot has not been laid out"));
    const QPointF at = plot.Geometry().screen[nearest];
    // A move first, as a real pointer gives, so the hover is where the click is.
    QMouseEvent move(QEvent::MouseMove, at, plot.mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&plot, &move);
    Click(plot, at, false);
    if (!WaitFor([&] { return plot.SelectedIndex() == nearest; }, QStringLiteral("picking 630 nm"))) return false;
    return Report(QStringLiteral("picked %1 nm at (%2, %3), wavelength shows \"%4\"")
                      .arg(points[nearest].wavelength)
                      .arg(at.x(), 0, 'f', 0)
                      .arg(at.y(), 0, 'f', 0)
                      .arg(Frame().View()->WavelengthDisplay()->Text()),
                  Frame(), QStringLiteral("picked-630nm"));
}

bool CTour::ChooseAperture() {
    m_nStep = 4;
    CQuorvexControlPanelView& view = *Frame().View();
    // The pointer goes over to the list, leaving the plot (and its hover box).
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(view.Plot(), &leave);
    CApertureListBox& list = *view.ApertureList();
    if (!list.isEnabled()) return Fail(QStringLiteral("the aperture list is disabled"));
    QListWidgetItem* item = list.item(list.count() / 2);
    if (!item) return Fail(QStringLiteral("the aperture list is empty"));
    // Past the list's current entry, so the head has to move.
    if (list.currentItem() == item && list.count() > 1) item = list.item(0);
    bool ended = false;
    int error = -1;
    const QMetaObject::Connection connection =
        connect(&view, &CQuorvexControlPanelView::MoveFinished, this, [&](int e) {
            ended = true;
            error = e;
        });
    list.scrollToItem(item);
    Click(*list.viewport(), list.visualItemRect(item).center(), true);
    const bool waited = WaitFor([&] { return ended && !view.MoveInProgress(); }, QStringLiteral("moving the head"));
    disconnect(connection);
    if (!waited) return false;
    if (error != 0) return Fail(QStringLiteral("the move ended with error %1").arg(error));
    if (list.currentItem() != item) return Fail(QStringLiteral("the list does not show the chosen aperture"));
    // The list shows the wheels' positions 1-based.
    const QPoint wheels = CApertureListBox::Positions(item) + QPoint(1, 1);
    return Report(QStringLiteral("head moved to aperture (%1,%2), row %3 of %4")
                      .arg(wheels.x())
                      .arg(wheels.y())
                      .arg(list.row(item) + 1)
                      .arg(list.count()),
                  Frame(), QStringLiteral("aperture"));
}

bool CTour::Information() {
    m_nStep = 5;
    QAction* command = Frame().Actions().information;
    if (!command->isEnabled()) return Fail(QStringLiteral("Information is disabled"));
    bool reported = false;
    bool filled = false;
    QString summary;
    bool shown = false;
    // The dialog runs modally inside the command, so it is read from a
    // timer that fires inside its event loop.
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [&, timer] {
        auto* dialog = qobject_cast<CInformationDlg*>(QApplication::activeModalWidget());
        if (!dialog) return;
        timer->stop();
        shown = true;
        filled = WaitFor(
            [&] {
                for (int field = 0; field < CInformationDlg::kFieldCount; ++field)
                    if (dialog->FieldEdit(static_cast<CInformationDlg::Field>(field))->text().isEmpty()) return false;
                return true;
            },
            QStringLiteral("filling the information dialog"));
        if (filled) {
            summary = QStringLiteral("information: %1; %2; %3, %4; lamp hours %5")
                          .arg(dialog->FieldEdit(CInformationDlg::HeadId)->text(),
                               dialog->FieldEdit(CInformationDlg::SupplyId)->text(),
                               dialog->FieldEdit(CInformationDlg::Current)->text(),
                               dialog->FieldEdit(CInformationDlg::Voltage)->text(),
                               dialog->FieldEdit(CInformationDlg::HourCount)->text());
            reported = Report(summary, *dialog, QStringLiteral("information"));
        }
        dialog->accept();
    });
    timer->start(20);
    command->trigger();
    timer->deleteLater();
    if (!shown) return Fail(QStringLiteral("the information dialog did not open"));
    return filled && reported;
}

bool CTour::RampDown() {
    m_nStep = 6;
    QAction* command = Frame().Actions().rampDown;
    if (!command->isEnabled()) return Fail(QStringLiteral("Ramp Down is disabled"));
    command->trigger();
    QLabel* pane = Frame().Pane(LampPane);
    if (!WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("ramping down"))) return false;
    if (Frame().Controller().State().rampedUp || pane->text() != QLatin1String("Lamp: OFF"))
        return Fail(QStringLiteral("ramping down ended with \"%1\"").arg(pane->text()));
    return Report(QStringLiteral("ramped down, %1").arg(pane->text()), Frame(), QStringLiteral("ramped-down"));
}

bool CTour::Disconnect() {
    m_nStep = 7;
    QAction* command = Frame().Actions().disconnect;
    if (!command->isEnabled()) return Fail(QStringLiteral("Disconnect is disabled"));
    command->trigger();
    QLabel* pane = Frame().Pane(ConnectionPane);
    if (!WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("disconnecting"))) return false;
    if (Frame().Controller().State().connected)
        return Fail(QStringLiteral("disconnecting ended with \"%1\"").arg(pane->text()));
    return Report(QStringLiteral("disconnected, %1").arg(pane->text()), Frame(), QStringLiteral("disconnected"));
}

void CTour::CleanUp() {
    const int failedStep = m_nStep;
    m_nStep = 0;
    if (!WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("waiting for the sequence to end")))
        return;
    if (Frame().Controller().State().connected && Frame().Actions().disconnect->isEnabled()) {
        Frame().Actions().disconnect->trigger();
        WaitFor([&] { return !Frame().Controller().Busy(); }, QStringLiteral("disconnecting after the failure"));
    }
    Print(QStringLiteral("tour: stopped at step %1").arg(failedStep));
}
