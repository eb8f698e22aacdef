// panel-screenshots OUTDIR: renders the control panel into PNG files in
// OUTDIR: the main view on its own with the simulated head's factory
// tables, then the whole program (its main window, its looks and its three
// sequence dialogs) driven through its own commands against the three
// simulated instruments, which run in this process on COM1..COM3 in a
// private XDG folder so the user's own settings and files are never read
// or written.
//
// Picks, hovers and list clicks go through the widgets' own mouse
// handlers, and the dialogs are the ones the program's commands open, so
// the pictures show what an operator's actions produce, not a state set
// from outside. Everything here runs on the GUI thread; waiting is done by
// running the event loop, never by blocking it, because the sequences'
// dialogs are opened on this thread by the connection worker.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPixmap>
#include <QProgressBar>
#include <QSettings>
#include <QString>
#include <QTimer>

#include "EventLoopWait.h"
#include "ApertureListBox.h"
#include "AppSettings.h"
#include "CalibrationData.h"
#include "DownloadCalibrationDataDlg.h"
#include "HeadSimulator.h"
#include "InformationDlg.h"
#include "InstrumentHandles.h"
#include "LampRampDlg.h"
#include "MainFrame.h"
#include "QuorvexControlPanelApp.h"
#include "PortErrorGate.h"
#include "QuorvexControlPanelView.h"
#include "SettingsSheet.h"
#include "SimulatedInstruments.h"
#include "SpectralPlot.h"
#include "UploadCalibrationDataDlg.h"
#include "platform/win32.h"

namespace {

// No instrument: no head handle, every move fails with a non-zero code, and
// nothing is logged.
CQuorvexControlPanelView::Services OfflineServices(const CCalibrationData& calibration,
                                                   const CAppSettings& settings) {
    CQuorvexControlPanelView::Services services;
    services.calibration = &calibration;
    services.settings = &settings;
    services.head = [] { return static_cast<void*>(nullptr); };
    services.move = [](void*, int, int) { return 5; };
    services.log = [](int, const std::wstring&) {};
    return services;
}

void FillFromSimulator(CCalibrationData& calibration) {
    calibration.FillFromHead(sim::CHeadSimulator::FactoryApertureRows(),
                             sim::CHeadSimulator::FactorySpectrum());
}

// Shown before any event is sent: the plot's geometry and the list's item
// rectangles only exist once the widgets have their size and have laid out.
void ShowAndSettle(QWidget& widget) {
    widget.show();
    QCoreApplication::processEvents();
}

int NearestIndex(const CSpectralPlot& plot, double wavelength) {
    const auto& points = plot.Points();
    int best = -1;
    for (int i = 0; i < static_cast<int>(points.size()); ++i)
        if (best < 0 || std::fabs(points[i].wavelength - wavelength) <
                            std::fabs(points[best].wavelength - wavelength))
            best = i;
    return best;
}

void SendMouse(CSpectralPlot& plot, QEvent::Type type, QPointF at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, plot.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(&plot, &event);
}

QPointF ScreenPointNear(CSpectralPlot& plot, double wavelength) {
    const int index = NearestIndex(plot, wavelength);
    if (index < 0) {
        std::fprintf(stderr, "panel-screenshots: no point near %.0f nm\n", wavelength);
        std::exit(1);
    }
    return plot.Geometry().screen[index];
}

void HoverNear(CSpectralPlot& plot, double wavelength) {
    SendMouse(plot, QEvent::MouseMove, ScreenPointNear(plot, wavelength), Qt::NoButton, Qt::NoButton);
}

void PickNear(CSpectralPlot& plot, double wavelength) {
    const QPointF at = ScreenPointNear(plot, wavelength);
    SendMouse(plot, QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    SendMouse(plot, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

// Connected, 630 nm picked and the head at the list's middle entry.
void PrepareSimulatedView(CQuorvexControlPanelView& view) {
    ShowAndSettle(view);
    view.SetConnected(true);
    PickNear(*view.Plot(), 630.0);
    const auto& entries = view.Entries();
    if (!entries.empty()) {
        const CApertureData& middle = entries[entries.size() / 2];
        view.OnHeadPosition(middle.m_nPrimaryPosition, middle.m_nSecondaryPosition);
    }
    QCoreApplication::processEvents();
}

bool Save(QWidget& widget, const QDir& dir, const char* name) {
    QCoreApplication::processEvents();
    const QString path = dir.filePath(QString::fromUtf8(name));
    if (!widget.grab().save(path, "PNG")) {
        std::fprintf(stderr, "panel-screenshots: cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s\n", path.toLocal8Bit().constData());
    return true;
}

bool ViewNoData(const QDir& dir) {
    const CCalibrationData calibration;
    const CAppSettings settings;
    CQuorvexControlPanelView view(OfflineServices(calibration, settings));
    ShowAndSettle(view);
    return Save(view, dir, "view-no-data.png");
}

bool ViewSimulated630(const QDir& dir) {
    CCalibrationData calibration;
    FillFromSimulator(calibration);
    const CAppSettings settings;
    CQuorvexControlPanelView view(OfflineServices(calibration, settings));
    PrepareSimulatedView(view);
    return Save(view, dir, "view-simulated-630nm.png");
}

bool ViewHover(const QDir& dir) {
    CCalibrationData calibration;
    FillFromSimulator(calibration);
    const CAppSettings settings;
    CQuorvexControlPanelView view(OfflineServices(calibration, settings));
    PrepareSimulatedView(view);
    HoverNear(*view.Plot(), 800.0);
    return Save(view, dir, "view-hover.png");
}

bool ViewRadiancePerNm(const QDir& dir) {
    CCalibrationData calibration;
    FillFromSimulator(calibration);
    CAppSettings settings;
    CQuorvexControlPanelView view(OfflineServices(calibration, settings));
    // Changed after construction, as the settings sheet does, so the
    // picture also shows the view following a change.
    settings.m_nYAxisDisplayUnits = 2;
    view.OnSettingsChanged();
    PrepareSimulatedView(view);
    return Save(view, dir, "view-r-per-nm.png");
}


// ---- The program against the simulated instruments -------------------------

using namespace std::chrono_literals;

bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return eventloopwait::RunUntil(done, limit);
}

bool Fail(const char* what) {
    std::fprintf(stderr, "panel-screenshots: %s\n", what);
    return false;
}

class CProgramPictures {
public:
    CProgramPictures(CQuorvexControlPanelApp& app, testsupport::CSimulatedInstruments& sims, const QDir& dir)
        : m_app(app), m_sims(sims), m_dir(dir) {}

    bool Start() {
        if (!m_app.InitInstance() || !m_app.MainFrame()) return Fail("the program did not start");
        // Boxes go to standard error and are answered OK, so none can stop
        // the run waiting for a click; port errors still pass the gate, so
        // a lost instrument is noticed as in the program.
        porterrors::Install([](const porterrors::Box& box) {
            std::fprintf(stderr, "%ls:\n%ls\n", box.caption.c_str(), box.text.c_str());
            return IDOK;
        });
        CAppSettings& settings = m_app.m_appSettings;
        settings.m_quorvexSerialSettings.port = testsupport::CSimulatedInstruments::kHeadCom;
        settings.m_agilentSerialSettings.port = testsupport::CSimulatedInstruments::kSupplyCom;
        settings.m_etcSerialSettings.port = testsupport::CSimulatedInstruments::kCounterCom;
        m_originalLook = settings.m_nAppStyle;
        Frame().UpdateCommands();
        return RunUntil([&] { return Frame().isVisible(); });
    }

    bool Disconnected() { return Save(Frame(), m_dir, "frame-disconnected.png"); }

    // Connects through the ribbon (the first connect downloads the head's
    // tables), picks 630 nm, clicks the list's middle entry so the head
    // moves there, and waits for both readings.
    bool Connected() {
        m_sims.counter.SetElapsedCount(4u * (1234u * 3600u + 1800u));  // quarter seconds: 1234.5 h
        if (!Run(Frame().Actions().connect, [&] { return Frame().Actions().disconnect->isEnabled(); }))
            return Fail("connecting did not end connected");
        CQuorvexControlPanelView& view = *Frame().View();
        PickNear(*view.Plot(), 630.0);
        CApertureListBox& list = *view.ApertureList();
        QListWidgetItem* middle = list.item(list.count() / 2);
        if (!middle) return Fail("the aperture list is empty");
        const QPoint target = CApertureListBox::Positions(middle);
        const QPoint at = list.visualItemRect(middle).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, at, list.viewport()->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(list.viewport(), &event);
        }
        if (!RunUntil([&] {
                const auto [primary, secondary] = m_sims.head.Position();
                return !view.MoveInProgress() && QPoint(int(primary), int(secondary)) == target &&
                       list.currentItem() && CApertureListBox::Positions(list.currentItem()) == target;
            }))
            return Fail("the head did not reach the chosen aperture");
        Frame().Controller().TickLampHours();
        Frame().Controller().TickTemperature();
        if (!RunUntil([&] {
                return !Frame().Pane(2)->text().contains(QChar(0x2014)) &&
                       !Frame().Pane(3)->text().contains(QChar(0x2013));
            }))
            return Fail("the lamp hours and bulb temperature panes did not fill");
        return Save(Frame(), m_dir, "frame-connected.png");
    }

    // The head goes while connected: the window once the loss has ended the
    // session.
    bool LostHead() {
        m_sims.head.Vanish();
        if (!RunUntil([&] {
                Frame().Controller().TickTemperature();
                return !Frame().Controller().Busy() && Frame().Pane(0)->text().startsWith(QStringLiteral("Lost"));
            }))
            return Fail("the lost head did not end the session");
        return Save(Frame(), m_dir, "frame-lost-head.png");
    }

    bool Looks() {
        bool ok = true;
        for (int look = 215; look <= 219; ++look) {
            ApplyLook(look);
            ok = Save(Frame(), m_dir, QStringLiteral("frame-look-%1.png").arg(look).toUtf8().constData()) && ok;
        }
        ApplyLook(m_originalLook);
        return ok;
    }

    // The head sends its tables a byte at a time, 3 ms apart (well inside
    // the driver's silence limit), so the dialog can be caught with the
    // aperture table in and the spectral one on its way (the bar then
    // stands at 25 %).
    bool DownloadDialog() {
        m_sims.head.InjectFault(R"(C[01]\?)", sim::Fault{sim::FaultKind::Split, 0, 3, 2});
        bool saved = false;
        const bool ended = Run(Frame().Actions().download, [&] {
            auto* dialog = Frame().findChild<CDownloadCalibrationDataDlg*>();
            if (!saved && dialog && dialog->isVisible() && dialog->Running() &&
                dialog->OverallPosition() >= 25 && dialog->OverallPosition() < 100)
                saved = Save(*dialog, m_dir, "dialog-download.png");
            return saved;
        });
        m_sims.head.ClearFaults();
        return ended && (saved || Fail("the download dialog was never caught mid-way"));
    }

    // Ticked and filled in by the dialog's own setters, grabbed idle, then
    // closed without uploading.
    bool UploadDialog() {
        bool saved = false;
        const bool ended = Run(Frame().Actions().upload, [&] {
            auto* dialog = Frame().findChild<CUploadCalibrationDataDlg*>();
            if (!saved && dialog && dialog->isVisible()) {
                const QString folder = QDir::homePath() + QStringLiteral("/Documents/Quorvex/");
                dialog->SetApertureChecked(true);
                dialog->SetAperturePath(folder + QStringLiteral("10427 aperture calibration.csv"));
                dialog->SetSpectralChecked(true);
                dialog->SetSpectralPath(folder + QStringLiteral("10427 spectral calibration.csv"));
                QCoreApplication::processEvents();
                saved = Save(*dialog, m_dir, "dialog-upload.png");
                // Done: Escape would disconnect, as the window answers it.
                dialog->accept();
            }
            return saved;
        });
        return ended && (saved || Fail("the upload dialog never showed"));
    }

    // A full ramp-up grabbed between 40 and 60 %, then a ramp-down so the
    // simulated lamp is dark again.
    bool RampDialog() {
        bool saved = false;
        const bool up = Run(Frame().Actions().rampUp, [&] {
            auto* dialog = Frame().findChild<CLampRampDlg*>();
            if (!saved && dialog && dialog->isVisible() && dialog->Position() >= 40 && dialog->Position() <= 60)
                saved = Save(*dialog, m_dir, "dialog-ramp.png");
            return saved;
        });
        if (!up || !Frame().Controller().State().rampedUp) return Fail("the ramp-up did not complete");
        if (!Run(Frame().Actions().rampDown, [&] { return !Frame().Controller().State().rampedUp; }))
            return Fail("the ramp-down did not complete");
        return saved || Fail("the ramp dialog was never caught between 40 and 60 %");
    }

    // The settings sheet's two pages, opened by Setup, the hardware page once
    // its port discovery has filled the combos; closed with Cancel.
    bool SettingsPages() {
        bool saved = false;
        WhenModal<CSettingsSheet>([&](CSettingsSheet& sheet) {
            saved = Save(sheet, m_dir, "settings-application.png");
            sheet.PageList()->setCurrentRow(1);
            QComboBox* head = sheet.HardwarePage()->PortCombo(CSettingsSheetModel::Head);
            saved = RunUntil([&] { return head->count() > 3; }, 20s) &&
                    Save(sheet, m_dir, "settings-hardware.png") && saved;
            sheet.reject();
        });
        Frame().Actions().setup->trigger();
        return saved || Fail("the settings sheet was not pictured");
    }

    // The diagnostics dialog, opened by Information, once its live fields
    // have filled in.
    bool InformationDialog() {
        bool saved = false;
        WhenModal<CInformationDlg>([&](CInformationDlg& dialog) {
            saved = RunUntil([&] {
                        return !dialog.FieldEdit(CInformationDlg::HourCount)->text().isEmpty() &&
                               !dialog.FieldEdit(CInformationDlg::Current)->text().isEmpty() &&
                               !dialog.FieldEdit(CInformationDlg::BulbEnclosure)->text().isEmpty();
                    }, 20s) &&
                    Save(dialog, m_dir, "dialog-information.png");
            dialog.accept();
        });
        Frame().Actions().information->trigger();
        return saved || Fail("the information dialog was not pictured");
    }

    // Disconnects through the ribbon and closes the window; true when the
    // lamp is dark and all three handles are gone.
    bool Finish() {
        bool ok = true;
        if (Frame().Controller().State().connected)
            ok = Run(Frame().Actions().disconnect, [&] { return Frame().Actions().connect->isEnabled(); });
        Frame().close();
        ok = RunUntil([&] { return !Frame().isVisible(); }) && ok;
        m_app.ExitInstance();
        if (m_sims.lamp.Lit()) ok = Fail("the simulated lamp is still lit");
        if (g_hQuorvex.load() || g_hAgilent.load() || g_hEtc.load()) ok = Fail("an instrument is still connected");
        return ok;
    }

private:
    CMainFrame& Frame() const { return *m_app.MainFrame(); }

    // Runs `act` on the dialog of type Dialog once a command has opened it:
    // these dialogs run modally inside the command itself.
    template <typename Dialog>
    static void WhenModal(const std::function<void(Dialog&)>& act) {
        auto* timer = new QTimer;
        QObject::connect(timer, &QTimer::timeout, [timer, act] {
            if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
                timer->stop();
                timer->deleteLater();
                act(*dialog);
            }
        });
        timer->start(20);
    }

    // Triggers a ribbon command and runs the event loop (and the dialog it
    // opens) until its sequence has ended and `after` holds.
    bool Run(QAction* command, const std::function<bool()>& after) {
        if (!command->isEnabled()) return Fail("a command was disabled when it was needed");
        command->trigger();
        return RunUntil([&] {
            // Asked while the sequence still runs too: that is when its
            // dialog is up.
            const bool held = after();
            return held && !Frame().Controller().Busy();
        });
    }

    // Restyling resets the bulb pane's colour until the next temperature
    // reading, so the picture waits for one.
    void ApplyLook(int look) {
        m_app.m_appSettings.m_nAppStyle = look;
        Frame().ApplyLook(look);
        Frame().View()->OnSettingsChanged();
        bool read = false;
        const QMetaObject::Connection connection = QObject::connect(
            &Frame().Controller(), &CConnectionController::TemperatureRead, &Frame(), [&] { read = true; });
        Frame().Controller().TickTemperature();
        if (!RunUntil([&] { return read; }, 10s)) Fail("no temperature reading after restyling");
        QObject::disconnect(connection);
    }

    CQuorvexControlPanelApp& m_app;
    testsupport::CSimulatedInstruments& m_sims;
    const QDir m_dir;
    int m_originalLook = 0;
};

bool ProgramPictures(CQuorvexControlPanelApp& app, testsupport::CSimulatedInstruments& sims, const QDir& dir) {
    CProgramPictures pictures(app, sims, dir);
    if (!pictures.Start()) return false;
    bool ok = pictures.Disconnected();
    ok = pictures.SettingsPages() && ok;
    if (pictures.Connected()) {
        ok = pictures.InformationDialog() && ok;
        ok = pictures.Looks() && ok;
        ok = pictures.DownloadDialog() && ok;
        ok = pictures.UploadDialog() && ok;
        ok = pictures.RampDialog() && ok;
        ok = pictures.LostHead() && ok;
    } else {
        ok = false;
    }
    return pictures.Finish() && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel-screenshots OUTDIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    // Before the application: its folders and settings are found through
    // the private XDG folder the instruments set up, and the instruments
    // outlive it.
    testsupport::CSimulatedInstruments sims;
    CQuorvexControlPanelApp app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(sims.Xdg().ConfigHome().string()));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "panel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok = ViewNoData(dir) && ok;
    ok = ViewSimulated630(dir) && ok;
    ok = ViewHover(dir) && ok;
    ok = ViewRadiancePerNm(dir) && ok;
    ok = ProgramPictures(app, sims, dir) && ok;
    return ok ? 0 : 1;
}
