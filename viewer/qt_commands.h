// Commands by id on Qt: menu actions and buttons carry their command id as a property, menu
// bars are built from tables of ids and texts and sit at the bottom of their window (where the
// handheld's soft-key bar was), and the watchdog's "covered by another program" test.
#pragma once

#include <functional>
#include <span>

class QAction;
class QMenuBar;
class QObject;
class QWidget;

namespace kestrel {

// One row of a menu table. menu is the path of the pop-up the item goes into, with '/'
// between levels ("Operate/Change Stream"); an empty path puts the item on the bar itself.
// An id of 0 is a separator.
struct MenuItem {
    const char *menu;
    int id;
    const char *text;
};

void setCommandId(QObject *object, int id);
int commandId(const QObject *object);  // 0 when it carries none

// A menu bar owned by owner, built in table order; choosing an item calls onCommand(id).
QMenuBar *buildMenuBar(QWidget *owner, std::span<const MenuItem> items,
                       std::function<void(int)> onCommand);

// The action or widget under root carrying id; null when there is none.
QAction *findAction(const QWidget *root, int id);
QWidget *findControl(const QWidget *root, int id);

// Runs the command id under root as a click would: triggers its action, or clicks its button.
// False when nothing carries the id or it is disabled.
bool triggerCommand(const QWidget *root, int id);

// Whether window counts as covered by another program: it is not visible or not exposed while
// none of this application's windows is active, or the application is hidden or suspended.
bool windowCovered(const QWidget *window);

}  // namespace kestrel
