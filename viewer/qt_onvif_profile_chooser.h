// The site editor's choice of an ONVIF site's media profile: a list read from the device once
// its URL and account are known (after a pause in typing, when the account or password field
// is left, or on "Read again"), on a thread of its own. It says what it is doing, and why a
// read failed with the status's name beside.
#pragma once

#include <string>
#include <vector>

#include <QString>
#include <QTimer>
#include <QWidget>

#include "viewer/onvif_lookup.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace kestrel {

class OnvifProfileChooser : public QWidget {
    Q_OBJECT

  public:
    explicit OnvifProfileChooser(QWidget *parent = nullptr);

    // How profiles are read; readOnvifProfiles by default.
    OnvifReadProfiles readProfiles = readOnvifProfiles;

    // The device and account to read from. It is not read yet.
    void setSource(const QString &url, const QString &account, const QString &password);
    // Reads after a pause in typing: each call starts the pause again.
    void readSoon();
    // Reads now, unless the same device and account were read last (or are being read).
    void readNow() { read(false); }
    // Reads now in any case.
    void readAgain() { read(true); }

    // The profile to select once the list comes (the site's own); until then, the chosen one.
    void setChosen(int index);
    // The selected profile's index, or the one set while none is listed.
    int chosen() const { return chosen_; }
    bool reading() const { return reading_; }

    // How long typing must pause before a read.
    static constexpr int kPauseMs = 700;

  private:
    void read(bool again);
    void show(int result, const std::vector<OnvifProfileEntry> &profiles);
    void say(const QString &text);

    QComboBox *list_ = nullptr;
    QPushButton *again_ = nullptr;
    QLabel *state_ = nullptr;
    QTimer pause_;
    QString url_, account_, password_;
    QString lastRead_;  // the source of the last read begun, as one text
    int serial_ = 0;    // of the last read begun: an older read's answer is dropped
    int chosen_ = 0;
    bool reading_ = false;
};

}  // namespace kestrel
