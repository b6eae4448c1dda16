// The site list dialog: the sites' names in a list box and the bottom menu bar with Select and
// the Manage pop-up (New, Edit, Delete, Copy, Find cameras). Select (or a double-click or Enter
// on a site) accepts with the list box's selection; New, Edit, Delete and Copy change the list
// together with the user file (see SiteList::change) and fill the list box again. Find cameras
// looks for ONVIF devices and opens the editor on the one chosen, as an ONVIF site whose
// account is still to be typed; saving it adds it as New does. Opening the dialog
// reads the list from the files again. Escape (the Back key) cancels.
//
// On a smartphone a 100 ms occlusion watchdog runs while the dialog is shown (paused while the
// editor is open); at exactly 20 covered ticks in a row it ends the dialog with an exit request.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <QDialog>
#include <QTimer>

#include "viewer/occlusion.h"
#include "viewer/onvif_lookup.h"
#include "viewer/site_record.h"

class QListWidget;
class QShowEvent;

namespace kestrel {

class SiteList;

class SiteListDialog : public QDialog {
    Q_OBJECT

  public:
    SiteListDialog(SiteList &list, std::string directory, bool smartphone,
                   QWidget *parent = nullptr);

    // After exec(): Accepted with the selection Select took (-1 for none), or Rejected.
    int selectedIndex() const { return selectedIndex_; }
    // The watchdog (this dialog's or the editor's) asked the program to end.
    bool exitRequested() const { return exitRequested_; }

    struct EditorResult {
        bool accepted = false;
        bool exitRequested = false;
    };
    // Runs the site editor on record, which holds the edited site when it accepts. By default
    // a modal SiteEditorDialog.
    std::function<EditorResult(SiteRecord &record)> runEditor;
    // Whether the user agreed to delete the site; by default a Yes/No message box.
    std::function<bool()> confirmDelete;
    // The watchdog's "covered by another program" test; windowCovered(this) by default.
    std::function<bool()> covered;
    // Tells the user of a failure; by default a warning box.
    std::function<void(const QString &)> warn;
    // How ONVIF devices are found and their profiles read; the library's calls by default.
    // The default editor and camera search use these.
    OnvifDiscover discover = discoverOnvifDevices;
    OnvifReadProfiles readProfiles = readOnvifProfiles;
    // Runs the camera search; the device chosen, or none when it was cancelled. By default a
    // modal FindCamerasDialog.
    std::function<std::optional<OnvifDevice>()> runFinder;

    // Runs a command of the menu bar by its id, as choosing it does.
    void onCommand(int id);
    // One 100 ms watchdog step (the timer calls it; tests call it directly).
    void tick();
    bool watchdogRunning() const { return watchdog_.isActive(); }
    uint16_t occlusionCounter() const { return probe_.counter; }

    QListWidget *listBox() const { return listBox_; }

  protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

  private:
    int selection() const;  // the list box's selected row, -1 for none
    void fill(int select);  // refills the list box and selects row select (none when -1)
    void requestExit();
    // Makes a change to the list and its file; a failure is told through warn.
    void commit(const std::function<void(SiteList &)> &apply);
    // Runs another dialog over this one with the watchdog paused.
    void whilePaused(const std::function<void()> &run);
    // Runs the editor on record with the watchdog paused; false when the editor asked the
    // program to end (then this dialog has ended too) or was cancelled.
    bool edit(SiteRecord &record);
    // Runs the editor on a new site and adds it when the editor accepts (New, Find cameras).
    void add(SiteRecord site);

    SiteList &list_;
    std::string directory_;
    bool smartphone_;
    int selectedIndex_ = -1;
    bool exitRequested_ = false;
    OcclusionProbe probe_;
    QTimer watchdog_;
    QListWidget *listBox_ = nullptr;
};

}  // namespace kestrel
