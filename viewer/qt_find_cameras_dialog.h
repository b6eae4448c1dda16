// Find cameras: looks for ONVIF devices on the network for a few seconds (a bar counts them),
// then lists those that answered by name, hardware and URL. Choose (or a double-click or Enter
// on a device) accepts with it; Search again looks once more; Escape cancels. When nobody
// answered, or the search could not run, it says so in plain words.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <vector>

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>

#include "viewer/onvif_lookup.h"

class QLabel;
class QListWidget;
class QProgressBar;

namespace kestrel {

class FindCamerasDialog : public QDialog {
    Q_OBJECT

  public:
    // How long a search listens for answers.
    static constexpr int kSeconds = 3;

    // Starts the first search at once, through discover.
    explicit FindCamerasDialog(OnvifDiscover discover, QWidget *parent = nullptr);
    ~FindCamerasDialog() override;  // a search still running is told to stop

    // The device chosen, after Accepted.
    const std::optional<OnvifDevice> &chosen() const { return chosen_; }
    bool searching() const { return searching_; }
    const std::vector<OnvifDevice> &devices() const { return devices_; }

    // Runs a command of the menu bar by its id, as choosing it does.
    void onCommand(int id);

  private:
    void search();
    void showFound(int result, std::vector<OnvifDevice> devices);
    void say(const QString &text);

    OnvifDiscover discover_;
    std::shared_ptr<std::atomic<bool>> stop_;  // of the search running
    std::vector<OnvifDevice> devices_;
    std::optional<OnvifDevice> chosen_;
    bool searching_ = false;
    QElapsedTimer clock_;
    QTimer ticker_;  // moves the bar while a search runs
    QProgressBar *bar_ = nullptr;
    QLabel *message_ = nullptr;
    QListWidget *list_ = nullptr;
};

}  // namespace kestrel
