// The camera wall: a window of 1, 4, 9 or 16 tiles, each showing one site live through a
// WallTile of its own, with the site's name on it and, when no picture comes, what is wrong.
// A tile's menu (right button) chooses its site and stream; a site dragged from the wall's site
// list onto a tile goes there. The focused tile takes the pan/tilt keys (2/4/6/8/3/9); the
// arrows move the focus; a double-click or Enter opens the tile's site in the single view.
// The layout and the tiles' sites are kept in the settings file.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QDialog>
#include <QImage>

#include "viewer/site_record.h"
#include "viewer/viewer_settings.h"
#include "viewer/wall_model.h"
#include "viewer/wall_tile.h"

class QGridLayout;
class QListWidget;
class QMenuBar;
class QMimeData;

namespace kestrel {

class WallTileView;

class WallWindow : public QDialog {
    Q_OBJECT

  public:
    // settings: the viewer's, kept up to date here; saveSettings writes them, on every change
    // of the wall. openSite: called with a tile's site (its stream chosen) when it is opened.
    WallWindow(ViewerSettings &settings, std::function<void()> saveSettings,
               std::function<void(const SiteRecord &)> openSite, QWidget *parent = nullptr);
    ~WallWindow() override;

    // Starts every tile that has a site (the window shown), or stops them all (hidden, or
    // the single view taking over).
    void startTiles();
    void stopTiles();

    const WallModel &model() const { return settings_.wall; }
    void setColumns(int columns);
    // Puts the site (of the site list) on the tile, or clears it for an empty site.
    void assign(int index, const WallSite &site, int stream = -1);
    void openTile(int index);
    void focusTile(int index);
    void onCommand(int id);

    // For tests and the screenshot: the tile views and what they show.
    WallTileView *tileView(int index) const;
    WallTile *tile(int index) const;
    QMenuBar *menuBar() const { return menuBar_; }

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    void layOut();
    void save();
    void showFocus();

    ViewerSettings &settings_;
    std::function<void()> saveSettings_;
    std::function<void(const SiteRecord &)> openSite_;
    QMenuBar *menuBar_ = nullptr;
    QGridLayout *grid_ = nullptr;
    QListWidget *sites_ = nullptr;
    std::vector<WallTileView *> views_;
    std::vector<std::unique_ptr<WallTile>> tiles_;  // one per view; null for a free tile
    int timerId_ = 0;
    int ticks_ = 0;
};

// One tile's picture area.
class WallTileView : public QWidget {
    Q_OBJECT

  public:
    WallTileView(WallWindow &wall, int index);

    // The tile's newest picture; an empty one clears the view.
    void setPicture(const WallTile::Picture &picture);
    uint64_t serial() const { return serial_; }  // of the picture shown, 0 for none
    void setTexts(const QString &name, const QString &problem);
    void setFocused(bool focused);
    bool hasPicture() const { return !image_.isNull(); }
    // Takes a site dragged from the wall's site list; false for anything else.
    bool dropSite(const QMimeData &data);
    const QString &problem() const { return problem_; }
    const QString &name() const { return name_; }

  protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    WallWindow &wall_;
    int index_;
    QImage image_;
    uint64_t serial_ = 0;
    QString name_, problem_;
    bool focused_ = false;
};

}  // namespace kestrel
