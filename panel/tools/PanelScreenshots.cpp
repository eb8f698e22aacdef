// panel-screenshots OUTDIR: renders the control panel's main view in its
// typical states into PNG files in OUTDIR, with the simulated head's factory
// tables standing in for an instrument. One function per picture, so new
// windows and dialogs each get their own.
//
// Picks and hovers go through the plot's own mouse handlers, so the
// pictures show what an operator's clicks produce, not a state set from
// outside.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QPixmap>
#include <QString>

#include "AppSettings.h"
#include "CalibrationData.h"
#include "HeadSimulator.h"
#include "QuorvexControlPanelView.h"
#include "SpectralPlot.h"

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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: panel-screenshots OUTDIR\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "panel-screenshots: cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    ok = ViewNoData(dir) && ok;
    ok = ViewSimulated630(dir) && ok;
    ok = ViewHover(dir) && ok;
    ok = ViewRadiancePerNm(dir) && ok;
    return ok ? 0 : 1;
}
