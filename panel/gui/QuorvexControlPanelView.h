// The main window's one view: the logo, the picked wavelength, the list of
// aperture positions with the radiance each delivers there, and the
// spectral plot. Picking on the plot updates the wavelength and the list;
// choosing a list item moves the head's aperture wheels, on a worker.
//
// Ownership and threads: created by the main frame and owned by it, GUI
// thread only. It reads the calibration and the settings it is given (the
// application's, in the program) on the GUI thread; the frame tells it of
// changes through the three notification slots and SetConnected. The only
// call to an instrument, the move, runs on its CApertureMover's thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QWidget>

#include "ApertureMover.h"
#include "AppSettings.h"
#include "CalibrationData.h"

class CApertureListBox;
class CDialogLayoutManager;
class IFrameHost;
class CItemHeaderCtrl;
class CLogoDisplay;
class CSpectralPlot;
class CWavelengthDisplay;

class CQuorvexControlPanelView : public QWidget {
    Q_OBJECT
public:
    // What the view reads and calls beyond its own widgets.
    struct Services {
        const CCalibrationData* calibration = nullptr;
        const CAppSettings* settings = nullptr;
        // The head's handle now (null while disconnected).
        std::function<void*()> head;
        // Runs on the mover's thread; returns the library's error code.
        CApertureMover::MoveFunction move;
        std::function<void(int severity, const std::wstring& message)> log;
    };
    // The program's calibration, settings and log, the head handle, and the
    // head library's blocking move.
    static Services ApplicationServices(IFrameHost& host);

    static constexpr int kWidth = 945;
    static constexpr int kHeight = 570;

    explicit CQuorvexControlPanelView(Services services, QWidget* parent = nullptr);
    ~CQuorvexControlPanelView() override;

    // The list can be used only while the instruments are connected.
    void SetConnected(bool connected);

    CSpectralPlot* Plot() const { return m_pPlot; }
    CApertureListBox* ApertureList() const { return m_pApertureList; }
    CWavelengthDisplay* WavelengthDisplay() const { return m_pWavelengthDisplay; }
    int PickedIndex() const { return m_nPickedIndex; }
    bool MoveInProgress() const { return m_mover.Busy(); }
    // The view's entries in list order.
    const std::vector<CApertureData>& Entries() const { return m_apertureEntries; }

public slots:
    // The settings sheet closed with OK: look and display units may differ.
    void OnSettingsChanged();
    // The head reported its wheels at (primary, secondary), 0-based.
    void OnHeadPosition(int primary, int secondary);
    // New calibration data are in the application's copy.
    void OnCalibrationReplaced();

signals:
    // A move the list started has ended; error 0 on success.
    void MoveFinished(int error);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void OnWavelengthPicked(int index);
    void OnApertureChosen(int row);
    void OnMoveDone(int error, int primary, int secondary);

private:
    void FillApertureList();
    void ApplyLook();
    void UpdateListContent();
    void SelectRowQuietly(int row);
    void UpdateListEnabled();

    Services m_services;
    CLogoDisplay* m_pLogo;
    CItemHeaderCtrl* m_pWavelengthHeader;
    CWavelengthDisplay* m_pWavelengthDisplay;
    CItemHeaderCtrl* m_pApertureHeader;
    CApertureListBox* m_pApertureList;
    CSpectralPlot* m_pPlot;
    CDialogLayoutManager* m_pLayout;
    CApertureMover m_mover;

    std::vector<CApertureData> m_apertureEntries;
    int m_nPickedIndex = -1;
    // The entry at the head's last known position, -1 until one is known.
    int m_nHeadPositionIndex = -1;
    bool m_bConnected = false;
    // The list had the focus when it was disabled; the plot holds it.
    bool m_bListFocusParked = false;
};
