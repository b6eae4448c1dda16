#include "viewer/qt_display.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <QFont>
#include <QMetaObject>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include "viewer/memory_display.h"  // normalizedSource

namespace kestrel {

namespace {

QImage blackImage(int width, int height) {
    QImage image(std::max(width, 1), std::max(height, 1), QImage::Format_RGB16);
    image.fill(Qt::black);
    return image;
}

}  // namespace

QtDisplay::QtDisplay(int width, int height)
    : image_(blackImage(width, height)), width_(image_.width()), height_(image_.height()) {
    presented_ = image_;
}

QtDisplay::~QtDisplay() {
    std::lock_guard state(stateLock_);
    if (widget_) widget_->display_ = nullptr;
    widget_ = nullptr;
}

FrameBufferView QtDisplay::lockFrameBuffer() {
    frameLock_.lock();
    locked_ = true;
    // bits() gives this image its own pixels when a presented copy still shares them.
    uint8_t *bits = image_.bits();
    return FrameBufferView{bits, static_cast<int>(image_.bytesPerLine()), 2, image_.width(),
                           image_.height()};
}

void QtDisplay::unlockFrameBuffer() {
    if (!locked_) return;
    locked_ = false;
    frameLock_.unlock();
    present();
}

void QtDisplay::clearState() {
    {
        std::lock_guard state(stateLock_);
        if (state_.empty()) return;
        state_.clear();
    }
    present();
}

void QtDisplay::showState(const std::u16string &text) {
    {
        std::lock_guard frame(frameLock_);
        image_.fill(Qt::black);
        std::lock_guard state(stateLock_);
        state_ = text;
    }
    present();
}

void QtDisplay::stretchBlit(const BitmapView &bitmap, int srcX, int srcY, int srcWidth,
                            int srcHeight, const Rect &destination) {
    const int bitmapHeight = std::abs(bitmap.height);
    if (!bitmap.bits || bitmap.width <= 0 || bitmapHeight == 0) return;
    Rect src = normalizedSource(srcX, srcY, srcWidth, srcHeight);
    src.left = std::clamp(src.left, 0, bitmap.width);
    src.right = std::clamp(src.right, 0, bitmap.width);
    src.top = std::clamp(src.top, 0, bitmapHeight);
    src.bottom = std::clamp(src.bottom, 0, bitmapHeight);
    Rect dst = destination;
    if (dst.right < dst.left) std::swap(dst.left, dst.right);
    if (dst.bottom < dst.top) std::swap(dst.top, dst.bottom);
    if (src.width() <= 0 || src.height() <= 0 || dst.width() <= 0 || dst.height() <= 0) return;

    // The source rows, upright and in Qt's own row alignment: the bitmap's rows are tightly
    // packed and may be bottom-up.
    QImage source(src.width(), src.height(), QImage::Format_BGR888);
    const std::size_t bitmapRow = static_cast<std::size_t>(bitmap.width) * 3;
    for (int y = 0; y < src.height(); ++y) {
        const int pictureRow = src.top + y;
        const int memoryRow = bitmap.height > 0 ? pictureRow : bitmapHeight - 1 - pictureRow;
        std::memcpy(source.scanLine(y),
                    bitmap.bits + static_cast<std::size_t>(memoryRow) * bitmapRow +
                        static_cast<std::size_t>(src.left) * 3,
                    static_cast<std::size_t>(src.width()) * 3);
    }
    {
        std::lock_guard frame(frameLock_);
        QPainter painter(&image_);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(QRect(dst.left, dst.top, dst.width(), dst.height()), source);
    }
    present();
}

int QtDisplay::screenWidth() const {
    std::lock_guard state(stateLock_);
    return width_;
}

int QtDisplay::screenHeight() const {
    std::lock_guard state(stateLock_);
    return height_;
}

Rect QtDisplay::mainWindowRect() const {
    std::lock_guard state(stateLock_);
    return Rect{0, topRows_, width_, height_ - softKeyRows_};
}

Rect QtDisplay::desktopRect() const {
    return mainWindowRect();
}

Rect QtDisplay::siteInfoRect() const {
    std::lock_guard state(stateLock_);
    const int bottom = height_ - softKeyRows_;
    return Rect{0, bottom - siteInfoRows_, width_, bottom};
}

bool QtDisplay::siteInfoVisible() const {
    std::lock_guard state(stateLock_);
    return siteInfoVisible_;
}

void QtDisplay::setSiteInfoText(const std::u16string &text) {
    std::lock_guard state(stateLock_);
    siteInfoText_ = text;
    if (QtDisplayWidget *widget = widget_) {
        const QString copy = QString::fromStdU16String(text);
        QMetaObject::invokeMethod(
            widget, [widget, copy] { emit widget->siteInfoTextChanged(copy); },
            Qt::QueuedConnection);
    }
}

void QtDisplay::refresh(const Rect &) {
    present();
}

void QtDisplay::present() {
    QImage frame;
    {
        std::lock_guard hold(frameLock_);
        frame = image_;  // shares the pixels until the next drawing detaches them
    }
    std::lock_guard state(stateLock_);
    presented_ = frame;
    presentedState_ = state_;
    // The widget's destructor detaches under stateLock_, so it is alive while this posts;
    // posted calls to a widget destroyed later are dropped with it.
    if (widget_ && !handOverPending_) {
        handOverPending_ = true;
        QtDisplayWidget *widget = widget_;
        QMetaObject::invokeMethod(
            widget, [widget] { widget->receiveFrame(); }, Qt::QueuedConnection);
    }
}

QImage QtDisplay::takeFrame(QString &stateText) {
    std::lock_guard state(stateLock_);
    handOverPending_ = false;
    stateText = QString::fromStdU16String(presentedState_);
    return presented_;
}

QImage QtDisplay::presentedFrame() const {
    std::lock_guard state(stateLock_);
    return presented_;
}

std::u16string QtDisplay::presentedState() const {
    std::lock_guard state(stateLock_);
    return presentedState_;
}

std::u16string QtDisplay::siteInfoText() const {
    std::lock_guard state(stateLock_);
    return siteInfoText_;
}

void QtDisplay::attach(QtDisplayWidget *widget) {
    std::lock_guard state(stateLock_);
    widget_ = widget;
    handOverPending_ = false;
}

void QtDisplay::setScreenSize(int width, int height) {
    width = std::max(width, 1);
    height = std::max(height, 1);
    {
        std::lock_guard frame(frameLock_);
        std::lock_guard state(stateLock_);
        if (width == width_ && height == height_) return;
        image_ = blackImage(width, height);
        width_ = width;
        height_ = height;
        ++generation_;
    }
    present();
}

void QtDisplay::setTopRows(int rows) {
    std::lock_guard state(stateLock_);
    topRows_ = std::max(rows, 0);
    ++generation_;
}

void QtDisplay::setSoftKeyBarHeight(int rows) {
    std::lock_guard state(stateLock_);
    softKeyRows_ = std::max(rows, 0);
    ++generation_;
}

void QtDisplay::setSiteInfoHeight(int rows) {
    std::lock_guard state(stateLock_);
    siteInfoRows_ = std::max(rows, 0);
    ++generation_;
}

void QtDisplay::setSiteInfoVisible(bool visible) {
    std::lock_guard state(stateLock_);
    siteInfoVisible_ = visible;
    ++generation_;
}

QtDisplayWidget::QtDisplayWidget(QtDisplay &display, QWidget *parent)
    : QWidget(parent), display_(&display) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    image_ = display.presentedFrame();
    state_ = QString::fromStdU16String(display.presentedState());
    display.attach(this);
}

QtDisplayWidget::~QtDisplayWidget() {
    if (display_) display_->attach(nullptr);
}

void QtDisplayWidget::receiveFrame() {
    if (!display_) return;
    image_ = display_->takeFrame(state_);
    ++frames_;
    update();
    emit frameArrived();
}

void QtDisplayWidget::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::black);
    painter.drawImage(0, 0, image_);
    if (state_.isEmpty()) return;
    // Over the picture area: above the site information and the soft-key bar.
    const int bottom = display_ ? std::min(display_->siteInfoRect().top, height()) : height();
    painter.setPen(Qt::white);
    QFont font = painter.font();
    if (font.pointSizeF() > 0) font.setPointSizeF(font.pointSizeF() * 1.25);
    painter.setFont(font);
    painter.drawText(QRect(8, 0, std::max(width() - 16, 1), std::max(bottom, 1)),
                     Qt::AlignCenter | Qt::TextWordWrap, state_);
}

void QtDisplayWidget::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (display_) display_->setScreenSize(event->size().width(), event->size().height());
}

}  // namespace kestrel
