#include "app/portlist.h"

#include "device/portsystem.h"
#include "device/seriallink.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

constexpr int DesignedPorts = 8;
constexpr int Gap = 16;

// Draws the device name as the item's text and its description, greyed, after it.
class PortDelegate final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        const QString about = index.data(PortList::AboutRole).toString();
        if (about.isEmpty())
            return;
        const int nameWidth = option.fontMetrics.horizontalAdvance(index.data().toString());
        QRect area = option.rect.adjusted(nameWidth + Gap + 4, 0, -4, 0);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Disabled, QPalette::Text));
        painter->drawText(area, int(Qt::AlignVCenter | Qt::AlignLeft),
                          option.fontMetrics.elidedText(about, Qt::ElideRight, area.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QString about = index.data(PortList::AboutRole).toString();
        if (!about.isEmpty())
            size.rwidth() += Gap + option.fontMetrics.horizontalAdvance(about);
        return size;
    }
};

} // namespace

namespace PortList {

void refresh(QComboBox* box)
{
    if (!dynamic_cast<PortDelegate*>(box->itemDelegate()))
        box->setItemDelegate(new PortDelegate(box));

    const QString text = box->currentText();
    // A typed name stays typed: its position would otherwise be stored and win at the next start.
    const bool typed = box->currentIndex() < 0 || box->itemText(box->currentIndex()) != text;
    const QList<PortSystem::PortEntry> found = PortSystem::availablePorts();
    const QSignalBlocker quiet(box);
    while (box->count() > DesignedPorts)
        box->removeItem(DesignedPorts);
    for (int n = 0; n < box->count(); ++n) {
        box->setItemData(n, QVariant(), AboutRole);
        box->setItemData(n, QVariant(), Qt::ToolTipRole);
    }
    for (const PortSystem::PortEntry& port : found) {
        // A port that a designed name already opens is described there instead of listed twice.
        int at = -1;
        for (int n = 0; n < DesignedPorts && n < box->count() && at < 0; ++n) {
            if (SerialLink::systemPortName(box->itemText(n)) == port.name)
                at = n;
        }
        if (at < 0) {
            box->addItem(port.name);
            at = box->count() - 1;
        }
        box->setItemData(at, port.about, AboutRole);
        box->setItemData(at, port.about, Qt::ToolTipRole);
    }

    const int index = typed ? -1 : box->findText(text);
    box->setCurrentIndex(index);
    if (index < 0)
        box->setEditText(text);

    // Room for /dev/serial/by-id/... names with their descriptions.
    int widest = 0;
    QAbstractItemView* view = box->view();
    for (int n = 0; n < box->count(); ++n)
        widest = qMax(widest, view->sizeHintForIndex(box->model()->index(n, 0)).width());
    const int stableName = box->fontMetrics().horizontalAdvance(
        QStringLiteral("/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0"));
    view->setMinimumWidth(qMax(box->width(), qMax(widest, stableName) + 2 * view->frameWidth() + 24));
}

} // namespace PortList
