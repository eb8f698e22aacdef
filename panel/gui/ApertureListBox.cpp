// Drawing and key handling of the aperture list.
#include "ApertureListBox.h"

#include <algorithm>

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "ApertureItems.h"
#include "Utf8Text.h"

namespace {

constexpr QRgb kOutline = 0xFF828790;

QFont ArialPixels(double pixels) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(std::max(1, static_cast<int>(pixels)));
    return font;
}

class CApertureItemDelegate : public QStyledItemDelegate {
public:
    explicit CApertureItemDelegate(CApertureListBox* list) : QStyledItemDelegate(list), m_list(list) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {0, CApertureListBox::kItemHeight};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const CApertureListBox::Content& content = m_list->GetContent();
        const QRect r = option.rect;
        const int w = r.width();
        const int h = r.height();
        const QPoint positions = index.data(Qt::UserRole).toPoint();

        painter->save();
        painter->translate(r.topLeft());
        painter->setClipRect(QRect(0, 0, w, h));
        painter->setRenderHint(QPainter::TextAntialiasing);

        QColor text;
        if (!(option.state & QStyle::State_Enabled)) {
            painter->fillRect(QRect(0, 0, w, h), QColor::fromRgba(0xFFF0F0F0));
            text = QColor::fromRgba(0xFF808080);
        } else {
            const bool selected = option.state & QStyle::State_Selected;
            QLinearGradient fill(0.0, 0.0, 0.0, h);
            fill.setColorAt(0.0, QColor::fromRgba(selected ? 0xFF52A61B : 0xFFFAFAFA));
            fill.setColorAt(1.0, QColor::fromRgba(selected ? 0xFF468C16 : 0xFFE1E1E1));
            painter->fillRect(QRect(0, 0, w, h), fill);
            text = QColor::fromRgba(selected ? 0xFFE6E6E6 : 0xFF323232);
        }

        const double factor = apertureitems::FactorAt(content.stored, positions.x(), positions.y());
        const double radiance = apertureitems::ItemRadiance(factor, content.pickedRadiance);
        const QFont large = ArialPixels(h / 2.5);
        const QFont small = ArialPixels(h * 0.25);
        const double m = h / 6.0;
        const QString position = FromUtf8(apertureitems::PositionText(positions.x(), positions.y()));
        painter->setPen(text);
        const auto drawAt = [&](const QFont& font, double x, double y, int align, const QString& s) {
            painter->setFont(font);
            const QRectF box = align & Qt::AlignRight ? QRectF(x - w, y, w, h) : QRectF(x, y, w, h);
            painter->drawText(box, align | Qt::AlignTop, s);
        };
        if (factor > -1.0) {
            const QString factorText = FromUtf8(apertureitems::FactorText(factor));
            if (radiance > -1.0) {
                drawAt(large, m, m, Qt::AlignLeft, FromUtf8(apertureitems::RadianceText(radiance)));
                drawAt(small, m, 30.0, Qt::AlignLeft, factorText);
            } else {
                drawAt(ArialPixels(h / 2.0), m, m + 2.0, Qt::AlignLeft, factorText);
            }
        }
        if (content.showPositions && factor > -1.0)
            drawAt(small, w - m, 30.0, Qt::AlignRight, position);
        else if (factor < 0.0)
            drawAt(large, m, m + 2.0, Qt::AlignLeft, position + QStringLiteral(" - NO DATA"));

        // Each item's bottom edge is the next item's top edge; the last one
        // closes the list.
        const bool last = index.row() == index.model()->rowCount() - 1;
        painter->setPen(QPen(QColor::fromRgba(kOutline), 1.0));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRect(0, 0, w - 1, last ? h - 1 : h));
        painter->restore();
    }

private:
    CApertureListBox* m_list;
};

}  // namespace

CApertureListBox::CApertureListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new CApertureItemDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    viewport()->setCursor(Qt::PointingHandCursor);
}

void CApertureListBox::SetContent(Content content) {
    m_content = std::move(content);
    viewport()->update();
}

void CApertureListBox::SetEntries(const std::vector<CApertureData>& entries) {
    const QSignalBlocker blocker(this);
    clear();
    for (const CApertureData& entry : entries) {
        auto* item = new QListWidgetItem(
            FromUtf8(apertureitems::ItemText(entry.m_nPrimaryPosition, entry.m_nSecondaryPosition)), this);
        item->setData(Qt::UserRole, QPoint(entry.m_nPrimaryPosition, entry.m_nSecondaryPosition));
    }
    setCurrentRow(-1);
    viewport()->update();
}

int CApertureListBox::RowOf(int primary, int secondary) const {
    for (int row = 0; row < count(); ++row)
        if (Positions(item(row)) == QPoint(primary, secondary)) return row;
    return -1;
}

QPoint CApertureListBox::Positions(const QListWidgetItem* item) {
    return item ? item->data(Qt::UserRole).toPoint() : QPoint(-1, -1);
}

void CApertureListBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        emit StepWavelength(event->key() == Qt::Key_Left ? -1 : +1);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void CApertureListBox::changeEvent(QEvent* event) {
    // The scroll bar shows only while the list can be used.
    if (event->type() == QEvent::EnabledChange)
        setVerticalScrollBarPolicy(isEnabled() ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    QListWidget::changeEvent(event);
}
