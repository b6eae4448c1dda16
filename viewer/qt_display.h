// The display on Qt: the frame buffer is an RGB16 (5-6-5) image as large as the top-level
// window's client area, stretch-blits are painted into the same image, and a QtDisplayWidget
// presents it.
//
// The renderer draws from its own thread and never touches a widget: after each
// unlockFrameBuffer, stretchBlit and refresh the finished image is handed to the widget by a
// queued call, and the widget's paintEvent draws it on the GUI thread. While one hand-over is
// waiting, later frames only replace the image it will pick up.
//
// A state shown in place of the picture (showState) blanks the image and travels with it to
// the widget, which writes it over the picture area until clearState.
//
// Stretch-blits never mirror: the source rectangle is in the picture's rows counted from its
// top edge (bottom-up bitmaps, height negative, have picture row 0 last in memory); a negative
// srcHeight gives the rectangle from its bottom edge up, a negative srcWidth from its right edge.
//
// Geometry. The application sets it (the widget sets the screen size itself when resized);
// every change moves geometryGeneration() on and the renderer lays out afresh on its next
// picture. With W x H the screen:
//   main window       0, topRows, W, H - softKeyBarHeight
//   desktop           the same (the renderer draws from its top 0)
//   site information  0, H - softKeyBarHeight - siteInfoHeight, W, H - softKeyBarHeight
// so the renderer's bottom rows are the soft-key bar and its information rows the site
// information window's height.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include <QImage>
#include <QString>
#include <QWidget>

#include "viewer/display.h"

namespace kestrel {

class QtDisplayWidget;

class QtDisplay final : public Display {
  public:
    QtDisplay(int width = 240, int height = 320);
    ~QtDisplay() override;
    QtDisplay(const QtDisplay &) = delete;
    QtDisplay &operator=(const QtDisplay &) = delete;

    // The renderer's side (any thread).
    FrameBufferView lockFrameBuffer() override;  // locked until unlockFrameBuffer
    void unlockFrameBuffer() override;
    void stretchBlit(const BitmapView &bitmap, int srcX, int srcY, int srcWidth, int srcHeight,
                     const Rect &destination) override;
    int screenWidth() const override;
    int screenHeight() const override;
    Rect mainWindowRect() const override;
    Rect desktopRect() const override;
    Rect siteInfoRect() const override;
    bool siteInfoVisible() const override;
    void setSiteInfoText(const std::u16string &text) override;
    void refresh(const Rect &area) override;
    void showState(const std::u16string &text) override;
    void clearState() override;
    uint64_t geometryGeneration() const override { return generation_.load(); }

    // The application's side. The screen is the top-level window's client area; a new size
    // starts a new, black frame (waiting for a frame the renderer is drawing).
    void setScreenSize(int width, int height);
    void setTopRows(int rows);           // rows above the main window
    void setSoftKeyBarHeight(int rows);  // the bar under the main window
    void setSiteInfoHeight(int rows);  // the site-information window over the main window's bottom
    void setSiteInfoVisible(bool visible);

    std::u16string siteInfoText() const;    // the last text set
    QImage presentedFrame() const;          // the last frame handed over
    std::u16string presentedState() const;  // the state handed over with it

  private:
    friend class QtDisplayWidget;

    void attach(QtDisplayWidget *widget);  // null detaches
    void present();                        // hands the image over by a queued call
    QImage takeFrame(QString &state);      // GUI thread: the latest frame handed over

    mutable std::mutex frameLock_;  // held from lockFrameBuffer to unlockFrameBuffer
    QImage image_;                  // frameLock_
    bool locked_ = false;           // by the holder of frameLock_

    mutable std::mutex stateLock_;  // taken after frameLock_ when both are
    int width_ = 0, height_ = 0;
    int topRows_ = 0, softKeyRows_ = 0, siteInfoRows_ = 0;
    bool siteInfoVisible_ = false;
    std::u16string siteInfoText_;
    std::u16string state_, presentedState_;
    QImage presented_;
    bool handOverPending_ = false;
    QtDisplayWidget *widget_ = nullptr;
    std::atomic<uint64_t> generation_{0};
};

// Presents a QtDisplay: paints the last frame handed over at its top-left corner, and makes
// the display's screen as large as itself. The display must outlive it or be destroyed first
// (either way the two let go of each other).
class QtDisplayWidget final : public QWidget {
    Q_OBJECT

  public:
    explicit QtDisplayWidget(QtDisplay &display, QWidget *parent = nullptr);
    ~QtDisplayWidget() override;

    QImage image() const { return image_; }       // what paintEvent draws
    QString stateText() const { return state_; }  // written over it; empty for none
    std::size_t framesReceived() const { return frames_; }

  signals:
    void frameArrived();
    void siteInfoTextChanged(const QString &text);

  protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

  private:
    friend class QtDisplay;
    void receiveFrame();  // the queued hand-over

    QtDisplay *display_;  // GUI thread; null once the display is gone
    QImage image_;
    QString state_;
    std::size_t frames_ = 0;
};

}  // namespace kestrel
