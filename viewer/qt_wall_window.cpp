#include "viewer/qt_wall_window.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QVBoxLayout>

#include "viewer/command_ids.h"
#include "viewer/main_window_model.h"
#include "viewer/qt_commands.h"
#include "viewer/site_list.h"

namespace kestrel {

namespace {

constexpr int kPictureTickMs = 10;   // how often tiles are asked for newer pictures
constexpr int kTextTicks = 25;       // the tiles' texts are looked at every 250 ms
constexpr const char *kSiteMime = "application/x-kestrel-site-index";

constexpr MenuItem kWallMenu[] = {
    {"Layout", kCmdWallLayout1 + 0, "1 x 1"},
    {"Layout", kCmdWallLayout1 + 1, "2 x 2"},
    {"Layout", kCmdWallLayout1 + 2, "3 x 3"},
    {"Layout", kCmdWallLayout1 + 3, "4 x 4"},
    {"", kCmdWallSingleView, "Single view"},
};

// The site list as a source of sites to drag onto tiles.
class SiteSource final : public QListWidget {
  public:
    SiteSource() {
        setDragEnabled(true);
        setMaximumWidth(160);
    }

  protected:
    QMimeData *mimeData(const QList<QListWidgetItem *> &items) const override {
        auto *data = new QMimeData;
        if (!items.isEmpty()) data->setData(kSiteMime, QByteArray::number(row(items.front())));
        return data;
    }
    QStringList mimeTypes() const override { return {kSiteMime}; }
};

}  // namespace

WallWindow::WallWindow(ViewerSettings &settings, std::function<void()> saveSettings,
                       std::function<void(const SiteRecord &)> openSite, QWidget *parent)
    : QDialog(parent),
      settings_(settings),
      saveSettings_(std::move(saveSettings)),
      openSite_(std::move(openSite)) {
    setWindowTitle(QStringLiteral("Kestrel wall"));
    resize(960, 600);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto *body = new QHBoxLayout;
    sites_ = new SiteSource;
    body->addWidget(sites_);
    grid_ = new QGridLayout;
    grid_->setSpacing(2);
    body->addLayout(grid_, 1);
    outer->addLayout(body, 1);
    menuBar_ = buildMenuBar(this, kWallMenu, [this](int id) { onCommand(id); });
    outer->addWidget(menuBar_);
    // A first wall shows the list's first sites. The tiles are laid out when it is shown.
    if (settings_.wall == WallModel{}) settings_.wall.fillFrom(siteList());
}

WallWindow::~WallWindow() { stopTiles(); }

void WallWindow::layOut() {
    stopTiles();
    for (WallTileView *view : views_) delete view;
    views_.clear();
    tiles_.clear();
    const WallModel &wall = settings_.wall;
    for (int i = 0; i < wall.tileCount(); ++i) {
        auto *view = new WallTileView(*this, i);
        grid_->addWidget(view, i / wall.columns(), i % wall.columns());
        views_.push_back(view);
        const SiteRecord *site = findWallSite(siteList(), wall.tile(i));
        tiles_.push_back(site ? std::make_unique<WallTile>(*site, wall.tileStream(i)) : nullptr);
        view->setTexts(site ? QString::fromStdU16String(siteName(*site)) : QString(),
                       site || wall.tile(i).empty()
                           ? QString()
                           : QStringLiteral("This site is no longer in the site list"));
    }
    showFocus();
    if (isVisible()) startTiles();
}

void WallWindow::startTiles() {
    for (auto &tile : tiles_)
        if (tile) tile->start();
    if (!timerId_) timerId_ = startTimer(kPictureTickMs);
}

void WallWindow::stopTiles() {
    if (timerId_) killTimer(timerId_);
    timerId_ = 0;
    for (auto &tile : tiles_)
        if (tile) tile->stop();
}

void WallWindow::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The site list may have changed in the single view since the wall was last shown.
    sites_->clear();
    for (const std::u16string &name : siteList().names())
        sites_->addItem(QString::fromStdU16String(name));
    layOut();  // which starts the tiles
}

void WallWindow::hideEvent(QHideEvent *event) {
    stopTiles();
    QDialog::hideEvent(event);
}

void WallWindow::timerEvent(QTimerEvent *) {
    const bool texts = ++ticks_ % kTextTicks == 0;
    WallTile::Picture picture;
    for (std::size_t i = 0; i < tiles_.size(); ++i) {
        WallTile *tile = tiles_[i].get();
        if (!tile) continue;
        // A tile's view holds the picture it shows; a newer one replaces it, and whatever the
        // tile said while it had none goes with it.
        const bool newer = tile->newerPicture(views_[i]->serial(), picture);
        if (newer) views_[i]->setPicture(picture);
        if (texts || newer || !views_[i]->hasPicture())
            views_[i]->setTexts(views_[i]->name(), QString::fromStdU16String(tile->problem()));
    }
}

void WallWindow::setColumns(int columns) {
    if (!settings_.wall.setColumns(columns)) return;
    save();
    layOut();
}

void WallWindow::assign(int index, const WallSite &site, int stream) {
    if (index < 0 || index >= settings_.wall.tileCount()) return;
    settings_.wall.assign(index, site, stream);
    save();
    // Only this tile changes: the others keep their sessions.
    const std::size_t at = static_cast<std::size_t>(index);
    if (tiles_[at]) tiles_[at]->stop();
    const SiteRecord *record = findWallSite(siteList(), site);
    tiles_[at] = record ? std::make_unique<WallTile>(*record, stream) : nullptr;
    views_[at]->setPicture({});
    views_[at]->setTexts(record ? QString::fromStdU16String(siteName(*record)) : QString(), {});
    if (tiles_[at] && isVisible()) tiles_[at]->start();
}

void WallWindow::openTile(int index) {
    focusTile(index);
    const std::size_t at = static_cast<std::size_t>(index);
    if (index < 0 || at >= tiles_.size() || !tiles_[at]) return;
    SiteRecord site = tiles_[at]->site();
    if (settings_.wall.tileStream(index) >= 0)
        site.streamNumber = static_cast<uint8_t>(settings_.wall.tileStream(index));
    stopTiles();
    if (openSite_) openSite_(site);
}

void WallWindow::onCommand(int id) {
    if (id >= kCmdWallLayout1 && id < kCmdWallLayout1 + kWallMaxColumns)
        setColumns(id - kCmdWallLayout1 + 1);
    if (id == kCmdWallSingleView) reject();
}

void WallWindow::keyPressEvent(QKeyEvent *event) {
    int key = event->key();
    switch (key) {
        case Qt::Key_Left: key = kWallKeyLeft; break;
        case Qt::Key_Right: key = kWallKeyRight; break;
        case Qt::Key_Up: key = kWallKeyUp; break;
        case Qt::Key_Down: key = kWallKeyDown; break;
        case Qt::Key_Return:
        case Qt::Key_Enter: key = '\n'; break;
        default: break;
    }
    const WallKey action = wallKeyAction(key);
    const int focus = settings_.wall.focus();
    switch (action.kind) {
        case WallKey::Kind::Ptz:
            if (WallTile *tile = this->tile(focus); tile && tile->session()) {
                PtzRequest request = ptzActionRequest(action.ptzAction);
                IPCamCommand(tile->session(), &request, nullptr);
            }
            return;
        case WallKey::Kind::Open:
            openTile(focus);
            return;
        case WallKey::Kind::MoveFocus:
            settings_.wall.moveFocus(action.dx, action.dy);
            showFocus();
            return;
        case WallKey::Kind::None:
            QDialog::keyPressEvent(event);
            return;
    }
}

void WallWindow::focusTile(int index) {
    settings_.wall.setFocus(index);
    showFocus();
}

void WallWindow::showFocus() {
    for (std::size_t i = 0; i < views_.size(); ++i)
        views_[i]->setFocused(static_cast<int>(i) == settings_.wall.focus());
}

void WallWindow::save() {
    if (saveSettings_) saveSettings_();
}

WallTileView *WallWindow::tileView(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < views_.size()
               ? views_[static_cast<std::size_t>(index)]
               : nullptr;
}

WallTile *WallWindow::tile(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < tiles_.size()
               ? tiles_[static_cast<std::size_t>(index)].get()
               : nullptr;
}

// ---- the tile's view ----

WallTileView::WallTileView(WallWindow &wall, int index) : wall_(wall), index_(index) {
    setAcceptDrops(true);
    setMinimumSize(80, 60);
    setFocusPolicy(Qt::NoFocus);  // keys stay with the wall
}

void WallTileView::setPicture(const WallTile::Picture &picture) {
    serial_ = picture.serial;
    if (picture.width <= 0 || picture.height <= 0) {
        image_ = QImage();
    } else {
        image_ = QImage(picture.bgr.data(), picture.width, picture.height, picture.width * 3,
                        QImage::Format_BGR888)
                     .copy();
    }
    update();
}

void WallTileView::setTexts(const QString &name, const QString &problem) {
    if (name == name_ && problem == problem_) return;
    name_ = name;
    problem_ = problem;
    update();
}

void WallTileView::setFocused(bool focused) {
    if (focused == focused_) return;
    focused_ = focused;
    update();
}

void WallTileView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    const Rect tile{0, 0, width(), height()};
    if (!image_.isNull() && problem_.isEmpty()) {
        const Rect at = fitPicture(tile, image_.width(), image_.height());
        painter.drawImage(QRect(at.left, at.top, at.width(), at.height()), image_);
    }
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, name_);
    if (!problem_.isEmpty())
        painter.drawText(rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                         problem_);
    else if (name_.isEmpty())
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("No site: choose one with the right button"));
    if (focused_) {
        painter.setPen(QPen(QColor(230, 230, 0), 3));
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

void WallTileView::mousePressEvent(QMouseEvent *event) {
    wall_.focusTile(index_);
    QWidget::mousePressEvent(event);
}

void WallTileView::mouseDoubleClickEvent(QMouseEvent *) { wall_.openTile(index_); }

void WallTileView::contextMenuEvent(QContextMenuEvent *event) {
    QMenu menu(this);
    const std::vector<SiteRecord> &sites = siteList().records();
    for (std::size_t i = 0; i < sites.size(); ++i) {
        const SiteRecord &site = sites[i];
        QAction *action = menu.addAction(QString::fromStdU16String(siteName(site)));
        connect(action, &QAction::triggered, this,
                [this, site] { wall_.assign(index_, wallSiteOf(site)); });
    }
    menu.addSeparator();
    if (!wall_.model().tile(index_).empty()) {
        // An ONVIF site's stream is its media profile, counted from 0 as the editor lists them.
        const SiteRecord *shown = findWallSite(siteList(), wall_.model().tile(index_));
        const bool profiles = shown && shown->protocolType == kProtocolOnvif;
        QMenu *streams = menu.addMenu(profiles ? QStringLiteral("Profile for the wall")
                                               : QStringLiteral("Stream for the wall"));
        for (int s = -1; s < 4; ++s) {
            QAction *action = streams->addAction(
                s < 0      ? QStringLiteral("The site's own")
                : profiles ? QStringLiteral("Profile %1").arg(s)
                           : QStringLiteral("Stream %1").arg(s + 1));
            action->setCheckable(true);
            action->setChecked(wall_.model().tileStream(index_) == s);
            connect(action, &QAction::triggered, this,
                    [this, s] { wall_.assign(index_, wall_.model().tile(index_), s); });
        }
    }
    connect(menu.addAction(QStringLiteral("No site")), &QAction::triggered, this,
            [this] { wall_.assign(index_, WallSite{}); });
    menu.exec(event->globalPos());
}

void WallTileView::dragEnterEvent(QDragEnterEvent *event) {
    if (event->mimeData()->hasFormat(kSiteMime)) event->acceptProposedAction();
}

void WallTileView::dropEvent(QDropEvent *event) {
    if (dropSite(*event->mimeData())) event->acceptProposedAction();
}

bool WallTileView::dropSite(const QMimeData &data) {
    bool ok = false;
    const int row = data.data(kSiteMime).toInt(&ok);
    const SiteRecord *site = ok && row >= 0 ? siteList().at(row) : nullptr;
    if (site) wall_.assign(index_, wallSiteOf(*site));
    return site != nullptr;
}

}  // namespace kestrel
