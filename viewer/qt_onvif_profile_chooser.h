// The site editor's choice of an ONVIF site's media profile: a list read from the device on a
// thread of its own, only when asked (the editor opening on a complete site, a field left with
// a complete URL and account, or "Read profiles"), never while the person types: each read
// with a half-typed password would cost the device a failed login, and enough of them lock
// the account. An account the device refused is not sent again until it changes. It says what
// it is doing, and why a read failed with the status's name beside.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include <QString>
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
    ~OnvifProfileChooser() override;  // a read still running is told to stop

    // How profiles are read; readOnvifProfiles by default.
    OnvifReadProfiles readProfiles = readOnvifProfiles;

    // The device and account to read from. It is not read yet.
    void setSource(const QString &url, const QString &account, const QString &password);
    // Reads now when the URL and account are complete, unless the same device and account
    // were read last (or are being read).
    void readNow() { read(false); }
    // Reads now in any case ("Read profiles"), but an account refused is not sent unchanged.
    void readAgain() { read(true); }

    // Whether the URL and account are complete enough to read from.
    bool complete() const;

    // The profile to select once the list comes (the site's own); until then, the chosen one.
    void setChosen(int index);
    // The selected profile's index, or the one set while none is listed.
    int chosen() const { return chosen_; }
    bool reading() const { return reading_; }

  private:
    struct Source {
        QString url, account, password;
        QString text() const { return url + QChar(0) + account + QChar(0) + password; }
    };

    void read(bool again);
    void start();  // reads wanted_
    void finished(const Source &source, int result, const std::vector<OnvifProfileEntry> &profiles);
    void say(const QString &text);

    QComboBox *list_ = nullptr;
    QPushButton *again_ = nullptr;
    QLabel *state_ = nullptr;
    Source typed_;    // what the fields hold
    Source wanted_;   // what the last read asked for was, or is, read from
    QString lastRead_;  // wanted_.text() once a read of it began
    QString refused_;   // a source whose account the device refused
    // One read at a time: a newer request stops the one running and follows it.
    std::shared_ptr<std::atomic<bool>> stop_;
    bool queued_ = false;
    int chosen_ = 0;
    bool reading_ = false;
};

}  // namespace kestrel
