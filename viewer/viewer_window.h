// What the pipeline needs from the main window: the status line, the site-information window,
// a repaint of the screen after direct drawing, and the display the renderer draws on.
#pragma once

#include <string>

namespace kestrel {

class Display;

class ViewerWindow {
  public:
    virtual ~ViewerWindow() = default;
    // Sets the status line's text; may be called from any thread and must not block it for
    // longer than half a second.
    virtual void setStatusText(const std::u16string &text) = 0;
    virtual void setSiteInfoVisible(bool visible) = 0;
    virtual void setStatusVisible(bool visible) = 0;
    virtual void repaintScreen() = 0;  // user interface thread
    virtual Display &display() = 0;
};

}  // namespace kestrel
