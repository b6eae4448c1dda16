// The site editor: one site's name, address (or RTSP or ONVIF URL), port, account, password,
// video size, view options, stream and protocol (for an ONVIF site, the media profile read from
// the device in place of the stream), on a form that scrolls (it is taller than a handheld's screen)
// above the bottom menu bar with OK and Cancel. It edits its own copy of the record: OK writes
// the controls into it and accepts, Cancel (Escape, closing, the watchdog) restores the record
// exactly as it was given and rejects.
//
// On a smartphone the Back key (Escape) belongs to the focused control — in an edit box it
// deletes the character before the cursor — and the 100 ms occlusion watchdog ends the editor
// with an exit request once it has counted more than 20 covered ticks in a row.
#pragma once

#include <functional>

#include <QDialog>
#include <QTimer>

#include "viewer/occlusion.h"
#include "viewer/site_record.h"

class QButtonGroup;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QShowEvent;

namespace kestrel {

class OnvifProfileChooser;

class SiteEditorDialog : public QDialog {
    Q_OBJECT

  public:
    SiteEditorDialog(const SiteRecord &record, bool smartphone, QWidget *parent = nullptr);

    const SiteRecord &record() const { return record_; }  // the result after OK
    const SiteRecord &saved() const { return saved_; }    // as given
    bool exitRequested() const { return exitRequested_; }
    // An ONVIF site's profile list; tests and the site list give it the way to read profiles.
    OnvifProfileChooser *profileChooser() const { return profiles_; }

    // The watchdog's "covered by another program" test; windowCovered(this) by default.
    std::function<bool()> covered;
    // One 100 ms watchdog step (the timer calls it; tests call it directly).
    void tick();
    bool watchdogRunning() const { return watchdog_.isActive(); }
    uint16_t occlusionCounter() const { return probe_.counter; }

    void accept() override;  // OK: the controls into the record
    void reject() override;  // Cancel: the record as given

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

  private:
    void onCommand(int id);
    void showRecord();
    void showProtocol(int row);  // the fields that protocol row uses
    // Gives the profile list the typed URL and account; false when the site is not ONVIF.
    bool updateProfileSource();

    SiteRecord record_;
    SiteRecord saved_;
    bool smartphone_;
    bool exitRequested_ = false;
    OcclusionProbe probe_;
    QTimer watchdog_;

    QLineEdit *name_ = nullptr;
    QLineEdit *host_ = nullptr;
    QLabel *hostLabel_ = nullptr;    // "IP", or "URL" for a URL site
    QLabel *hostProblem_ = nullptr;  // why OK refused the address; hidden otherwise
    QLabel *portLabel_ = nullptr;
    QLineEdit *port_ = nullptr;
    QLineEdit *account_ = nullptr;
    QLineEdit *password_ = nullptr;
    QButtonGroup *videoSize_ = nullptr;
    QCheckBox *rotation_ = nullptr;
    QCheckBox *fitToWidth_ = nullptr;
    QWidget *streamBox_ = nullptr;  // the stream list with its title and spin
    QListWidget *streams_ = nullptr;
    QListWidget *protocols_ = nullptr;
    OnvifProfileChooser *profiles_ = nullptr;
};

}  // namespace kestrel
