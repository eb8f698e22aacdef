// The list of aperture positions, each item drawn with the attenuation
// factor of its wheel positions and, once a wavelength is picked, the
// radiance it delivers there. A list view whose delegate does the drawing;
// the texts and order come from ApertureItems.
//
// Ownership and threads: a child of the main view, GUI thread only. The
// view hands in what the items show through SetContent; the list keeps a
// copy. Left and Right are not the list's: they go out by StepWavelength.
#pragma once

#include <vector>

#include <QListWidget>

#include "CalibrationData.h"

class CApertureListBox : public QListWidget {
    Q_OBJECT
public:
    // Everything an item's drawing reads besides its own positions.
    struct Content {
        std::vector<CApertureData> stored;  // the calibration's aperture table
        // The picked wavelength's radiance in the display unit, -1 when no
        // wavelength is picked.
        double pickedRadiance = -1.0;
        bool showPositions = true;
    };

    static constexpr int kItemHeight = 50;

    explicit CApertureListBox(QWidget* parent = nullptr);

    void SetContent(Content content);
    const Content& GetContent() const { return m_content; }
    // Rebuilds the items from `entries`, in that order, with no selection
    // and without emitting a selection change.
    void SetEntries(const std::vector<CApertureData>& entries);
    // The row of the item at (primary, secondary), -1 when none.
    int RowOf(int primary, int secondary) const;
    // The item's 0-based positions.
    static QPoint Positions(const QListWidgetItem* item);

    QSize sizeHint() const override { return {200, 300}; }

signals:
    // Left (-1) or Right (+1) pressed in the list.
    void StepWavelength(int direction);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Content m_content;
};
