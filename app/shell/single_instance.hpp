#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <vector>

namespace quotalume {

// One running Quotalume per user session. The first launch holds a lock file in the runtime
// folder, and its local server (LocalServer) listens at socketPath() beside it; a later launch
// finds the lock taken and asks over that socket for a reopen (of the settings window, when it
// was asked for one) instead of starting. A lock left by a process that died is taken over (its
// owner is checked), and the socket left beside it is replaced by the new server.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        first,       // this process runs; its local server takes the reopen requests
        forwarded,   // the running instance answered the reopen request
        unanswered,  // another instance holds the lock but never answered
    };

    // `directory`: where the lock and the socket live; empty for defaultDirectory().
    explicit SingleInstance(QString directory = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or asks its holder to reopen (`settings`: its settings window), passing
    // on the launcher's activation token; waits for at most `patience` for a holder that is
    // still starting to listen. Blocks: call it before the event loop runs.
    Outcome settle(bool settings = false,
                   std::chrono::milliseconds patience = std::chrono::seconds(5),
                   const QByteArray& token = {});

    // The token a launcher gives to let the window we open take the focus
    // (XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11), when it is one we can pass
    // on. Read before the application object, which takes DESKTOP_STARTUP_ID for itself.
    static QByteArray launchToken();
    // Hands a token forwarded by a later launch to the platform `platform` (the name Qt gives
    // it), before the window it is for is shown or raised: on Wayland Qt's shell integration
    // activates the next window it activates with XDG_ACTIVATION_TOKEN (and clears it); on X11
    // the startup id goes with the next window shown. Anything else, or a token we would not
    // pass on, is left alone.
    static void applyToken(const QByteArray& token, const QString& platform);

    // $XDG_RUNTIME_DIR as Qt checks it (owned by us, private); empty when there is none.
    static QString defaultDirectory();
    QString lockPath() const;
    // Where the first launch's local server listens.
    QString socketPath() const;
    // Whether this process holds the lock (settle() came to `first` with a folder to meet in).
    bool holdsLock() const { return lock_ && lock_->isLocked(); }

private:
    bool askToReopen(bool settings, const QByteArray& token,
                     std::chrono::milliseconds patience) const;

    QString directory_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace quotalume
