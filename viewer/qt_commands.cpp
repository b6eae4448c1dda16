#include "viewer/qt_commands.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWindow>
#include <map>

namespace kestrel {

namespace {
constexpr const char *kIdProperty = "kestrelCommandId";
}

void setCommandId(QObject *object, int id) { object->setProperty(kIdProperty, id); }

int commandId(const QObject *object) {
    const QVariant value = object->property(kIdProperty);
    return value.isValid() ? value.toInt() : 0;
}

QMenuBar *buildMenuBar(QWidget *owner, std::span<const MenuItem> items,
                       std::function<void(int)> onCommand) {
    auto *bar = new QMenuBar(owner);
    bar->setNativeMenuBar(false);
    std::map<QString, QMenu *> menus;  // by path

    // The pop-up for path, made (with its parents) the first time the path is met.
    std::function<QMenu *(const QString &)> menuFor = [&](const QString &path) -> QMenu * {
        if (auto found = menus.find(path); found != menus.end()) return found->second;
        const qsizetype slash = path.lastIndexOf('/');
        QMenu *menu;
        if (slash < 0) {
            menu = bar->addMenu(path);
        } else {
            menu = menuFor(path.left(slash))->addMenu(path.mid(slash + 1));
        }
        menus.emplace(path, menu);
        return menu;
    };

    for (const MenuItem &item : items) {
        const QString path = QString::fromUtf8(item.menu ? item.menu : "");
        if (item.id == 0) {
            if (!path.isEmpty()) menuFor(path)->addSeparator();
            continue;
        }
        QAction *action = path.isEmpty() ? bar->addAction(QString::fromUtf8(item.text))
                                         : menuFor(path)->addAction(QString::fromUtf8(item.text));
        setCommandId(action, item.id);
        const int id = item.id;
        QObject::connect(action, &QAction::triggered, owner, [onCommand, id] { onCommand(id); });
    }
    return bar;
}

QAction *findAction(const QWidget *root, int id) {
    for (QAction *action : root->findChildren<QAction *>()) {
        if (commandId(action) == id) return action;
    }
    return nullptr;
}

QWidget *findControl(const QWidget *root, int id) {
    for (QWidget *widget : root->findChildren<QWidget *>()) {
        if (commandId(widget) == id) return widget;
    }
    return nullptr;
}

bool triggerCommand(const QWidget *root, int id) {
    if (QAction *action = findAction(root, id)) {
        if (!action->isEnabled()) return false;
        action->trigger();
        return true;
    }
    if (auto *button = qobject_cast<QAbstractButton *>(findControl(root, id))) {
        if (!button->isEnabled()) return false;
        button->click();
        return true;
    }
    return false;
}

bool windowCovered(const QWidget *window) {
    const Qt::ApplicationState state = QGuiApplication::applicationState();
    if (state == Qt::ApplicationHidden || state == Qt::ApplicationSuspended) return true;
    const QWindow *handle = window->windowHandle();
    const bool shown = window->isVisible() && handle && handle->isExposed();
    if (shown) return false;
    // One of our own windows in front (a menu, a message box, a dialog) never counts.
    return QApplication::activeWindow() == nullptr && QApplication::activePopupWidget() == nullptr &&
           QApplication::activeModalWidget() == nullptr;
}

}  // namespace kestrel
