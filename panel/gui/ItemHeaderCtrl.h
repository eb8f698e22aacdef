// A caption bar above a list or view: the caption centred on the current
// look's header gradient.
//
// Ownership: an ordinary child widget, owned by its Qt parent. GUI thread
// only: construction, SetLook() and painting.
#pragma once

#include <QString>
#include <QWidget>

class CItemHeaderCtrl : public QWidget {
    Q_OBJECT
public:
    explicit CItemHeaderCtrl(const QString& caption, QWidget* parent = nullptr);

    // An AppLook id; the header repaints in that look's gradient.
    void SetLook(int look);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_caption;
    int m_look;
};
