#include "controls/ListViewEx.h"

#include "ImageResource.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace reelpage::app {

namespace {

// Draws an item as its cell background, the picture centred in the icon room
// at the top of the cell in its natural size, and the caption under it.
class IconDelegate : public QStyledItemDelegate {
public:
    explicit IconDelegate(TListViewEx* list) : QStyledItemDelegate(list), m_list(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget ? widget->style() : nullptr;
        if (style) style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);

        QSize room = m_list->iconSize();
        QRect icon(opt.rect.x() + (opt.rect.width() - room.width()) / 2, opt.rect.y() + 2,
                   room.width(), room.height());
        if (TListItemEx* ex = m_list->ItemEx(index.row())) {
            if (ex->Image && !ex->Image->isNull()) {
                QPoint at(icon.x() + (icon.width() - ex->Image->width()) / 2,
                          icon.y() + (icon.height() - ex->Image->height()) / 2);
                painter->drawImage(at, *ex->Image);
            }
        }
        QString caption = index.data(Qt::DisplayRole).toString();
        if (!caption.isEmpty()) {
            QRect text(opt.rect.x(), icon.bottom() + 2, opt.rect.width(),
                       opt.rect.bottom() - icon.bottom() - 2);
            painter->setPen(opt.palette.color(
                m_list->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
            painter->setFont(opt.font);
            painter->drawText(text, Qt::AlignHCenter | Qt::AlignTop,
                              opt.fontMetrics.elidedText(caption, Qt::ElideRight, text.width()));
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        if (m_list->IconWidth() > 0 && m_list->IconHeight() > 0)
            return QSize(m_list->IconWidth(), m_list->IconHeight());
        QSize room = m_list->iconSize();
        int text = option.fontMetrics.horizontalAdvance(QStringLiteral("10.5+"));
        QString caption = index.data(Qt::DisplayRole).toString();
        text = qMax(text, option.fontMetrics.horizontalAdvance(caption));
        return QSize(qMax(room.width(), text) + 8, room.height() + option.fontMetrics.height() + 6);
    }

private:
    TListViewEx* m_list;
};

} // namespace

TListViewEx::TListViewEx(QWidget* parent) : QListWidget(parent) {
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    setDragEnabled(false);
    setIconSize(QSize(30, 30));
    setItemDelegate(new IconDelegate(this));
    // Item data goes with its item, so a later item at the same address never
    // finds a stale one.
    connect(model(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row)
                    FItems.erase(item(row));
            });
    // clear() deletes every item with a reset, not a row removal.
    connect(model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { FItems.clear(); });
}

// The base class clears its items after the members are gone: the model's
// signals must no longer reach FItems.
TListViewEx::~TListViewEx() {
    disconnect(model(), nullptr, this, nullptr);
}

void TListViewEx::SetNoScroll(bool noScroll) {
    FNoScroll = noScroll;
    Qt::ScrollBarPolicy policy = noScroll ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
}

void TListViewEx::SetIconSpacing(int width, int height) {
    FIconWidth = width;
    FIconHeight = height;
    if (width > 0 && height > 0)
        setGridSize(QSize(width, height));
    else
        setGridSize(QSize());
    doItemsLayout();
}

QListWidgetItem* TListViewEx::AddIcon(const QString& caption, const QImage* image,
                                      const QString& infoTip) {
    auto* item = new QListWidgetItem(caption, this);
    item->setFlags(Qt::ItemIsEnabled);
    auto ex = std::make_unique<TListItemEx>();
    ex->Image = image;
    ex->InfoTip = infoTip;
    FItems[item] = std::move(ex);
    return item;
}

TListItemEx* TListViewEx::ItemEx(int index) const {
    auto it = FItems.find(item(index));
    return it == FItems.end() ? nullptr : it->second.get();
}

void TListViewEx::SetIcon(int index, const QImage* image, const QString& infoTip) {
    QListWidgetItem* target = item(index);
    if (!target) return;
    auto& ex = FItems[target];
    if (!ex) ex = std::make_unique<TListItemEx>();
    ex->Image = image;
    ex->InfoTip = infoTip;
    if (QAbstractItemModel* m = model()) {
        QModelIndex at = m->index(index, 0);
        update(at);
    }
}

void TListViewEx::SetItem(int index, const QString& caption, const QString& infoTip,
                          const QImage* image) {
    SetIcon(index, image, infoTip);
    if (QListWidgetItem* target = item(index)) target->setText(caption);
}

bool TListViewEx::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QModelIndex at = indexAt(help->pos());
        TListItemEx* ex = at.isValid() ? ItemEx(at.row()) : nullptr;
        if (ex && !ex->InfoTip.isEmpty())
            QToolTip::showText(help->globalPos(), ex->InfoTip, viewport(), visualRect(at));
        else
            QToolTip::hideText();
        return true;
    }
    return QListWidget::viewportEvent(event);
}

void TListViewEx::AddBrowserIcons() {
    // Pictures only: a screen reader needs the list's purpose in words.
    if (accessibleName().isEmpty()) setAccessibleName(QStringLiteral("Browsers that can play it"));
    AddIcon(QString(), &Images.IE2, QString());
    AddIcon(QString(), &Images.FireFox2, QString());
    AddIcon(QString(), &Images.Safari2, QString());
    AddIcon(QString(), &Images.Chrome2, QString());
    AddIcon(QString(), &Images.Opera2, QString());
}

void TListViewEx::ShowBrowserSupport(bool webm, bool mp4, bool ogg) {
    if (mp4)
        SetItem(0, QStringLiteral("9+"), QStringLiteral("Internet Explorer 9+"), &Images.IE);
    else
        SetItem(0, QString(), QStringLiteral(" Internet Explorer "), &Images.IE2);

    // Where both are chosen the older Ogg support decides the version shown.
    if (ogg)
        SetItem(1, QStringLiteral("3.5+"), QStringLiteral("Firefox 3.5+"), &Images.FireFox);
    else if (webm)
        SetItem(1, QStringLiteral("4+"), QStringLiteral("Firefox 4+"), &Images.FireFox);
    else
        SetItem(1, QString(), QStringLiteral("Firefox"), &Images.FireFox2);

    if (mp4)
        SetItem(2, QStringLiteral("3.1+"), QStringLiteral("Safari 3.1+"), &Images.Safari);
    else
        SetItem(2, QString(), QStringLiteral("Safari"), &Images.Safari2);

    if (ogg)
        SetItem(3, QStringLiteral("3+"), QStringLiteral("Google Chrome 3+"), &Images.Chrome);
    else if (webm)
        SetItem(3, QStringLiteral("6+"), QStringLiteral("Google Chrome 6+"), &Images.Chrome);
    else
        SetItem(3, QString(), QStringLiteral("Google Chrome"), &Images.Chrome2);

    if (ogg)
        SetItem(4, QStringLiteral("10.5+"), QStringLiteral("Opera 10.5+"), &Images.Opera);
    else if (webm)
        SetItem(4, QStringLiteral("10.6+"), QStringLiteral("Opera 10.6+"), &Images.Opera);
    else
        SetItem(4, QString(), QStringLiteral("Opera"), &Images.Opera2);
}

} // namespace reelpage::app
