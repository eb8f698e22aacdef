// The picked wavelength, large, on a light panel gradient: a dash while the
// calibration table is empty, a prompt until a wavelength is picked on the
// plot, then the wavelength in the chosen unit. The font shrinks until the
// text fits.
//
// Ownership: an ordinary child widget, owned by its Qt parent. GUI thread
// only: construction, the setters and painting.
#pragma once

#include <QString>
#include <QWidget>

class CWavelengthDisplay : public QWidget {
    Q_OBJECT
public:
    explicit CWavelengthDisplay(QWidget* parent = nullptr);

    // Nanometres; a negative value (-1.0) means none is picked.
    void SetWavelength(double nm);
    void SetTableEmpty(bool empty);
    // A row of displayunits' wavelength unit table.
    void SetUnit(int wavelengthUnitIndex);

    double Wavelength() const { return m_wavelengthNm; }
    // The text the display shows now.
    QString Text() const;

    // The largest Arial point size, from 24 down to 1, at which `text`
    // (lines centred) fits in `box`; 1 if even that does not fit.
    static int FitPointSize(const QString& text, QSize box);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_wavelengthNm;
    bool m_bTableEmpty;
    int m_unit;
};
