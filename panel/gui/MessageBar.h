// A message bar under the ribbon: a warning icon, a line of text, an
// optional button and an optional close box, on a soft yellow background.
// The main window shows one for errors (with "Open Log File" and a close
// box) and one for notices.
//
// Ownership and threads: an ordinary child widget owned by its Qt parent; it
// owns its icon, label and buttons. GUI thread only.
#pragma once

#include <QString>
#include <QWidget>

class QLabel;
class QPushButton;
class QToolButton;

class CMessageBar : public QWidget {
    Q_OBJECT
public:
    explicit CMessageBar(QWidget* parent = nullptr);

    void SetText(const QString& text);
    QString Text() const;

    // Shows the button with this text and tooltip; an empty text hides it.
    void SetButton(const QString& text, const QString& tooltip);
    void SetCloseBox(bool show);

signals:
    void ButtonClicked();
    void CloseClicked();

private:
    QLabel* m_text;
    QPushButton* m_button;
    QToolButton* m_close;
};
