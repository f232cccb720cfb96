#pragma once
// An icon list whose items draw a shared picture (not owned) centred in their
// icon cell, with a caption under it and a tip of their own; and, built on
// it, the list of browsers that can play a chosen set of formats.
#include <QImage>
#include <QListWidget>
#include <QString>

#include <memory>
#include <unordered_map>

namespace reelpage::app {

// What an item of TListViewEx carries besides its caption.
class TListItemEx {
public:
    const QImage* Image = nullptr;
    QString InfoTip;
};

class TListViewEx : public QListWidget {
    Q_OBJECT
public:
    explicit TListViewEx(QWidget* parent = nullptr);
    ~TListViewEx() override;

    bool NoScroll() const { return FNoScroll; }
    void SetNoScroll(bool noScroll);
    // Size of each icon cell, caption included; 0 keeps the default.
    int IconWidth() const { return FIconWidth; }
    int IconHeight() const { return FIconHeight; }
    void SetIconSpacing(int width, int height);
    // The room kept for each picture (30 x 30 in the browser lists).
    void SetIconSize(QSize size) { setIconSize(size); }

    QListWidgetItem* AddIcon(const QString& caption, const QImage* image, const QString& infoTip);
    // Changes an item's picture and tip, giving it a TListItemEx if it has none.
    void SetIcon(int index, const QImage* image, const QString& infoTip);
    // SetIcon, then the caption.
    void SetItem(int index, const QString& caption, const QString& infoTip, const QImage* image);
    TListItemEx* ItemEx(int index) const;

    // The five browsers, all shown as unable to play anything yet.
    void AddBrowserIcons();
    // Marks each browser by whether it plays at least one chosen format, with
    // the lowest version that does as its caption.
    void ShowBrowserSupport(bool webm, bool mp4, bool ogg);

protected:
    bool viewportEvent(QEvent* event) override;

private:
    bool FNoScroll = false;
    int FIconWidth = 0;
    int FIconHeight = 0;
    std::unordered_map<const QListWidgetItem*, std::unique_ptr<TListItemEx>> FItems;
};

} // namespace reelpage::app
