#pragma once

#include <QWidget>

#include <quotalume/l10n/localized_message.hpp>

#include <optional>
#include <string>
#include <vector>

class QLabel;
class QToolButton;

namespace quotalume {

class Engine;
class WarningLine;

// How the connection to Codex stands: the status, when the shown values were read, the last
// error and every standing warning (saving, the engine lock, the webhook configuration), and
// the refresh button. Among several sources each source's section says how it stands, and only
// the warnings and the named refresh button stay here. While no executable is chosen and
// reading fails, the one codex found in the usual places is offered with a button; only that
// click adopts it.
class ConnectionStatus : public QWidget {
    Q_OBJECT

public:
    explicit ConnectionStatus(Engine& monitor, QWidget* parent = nullptr);

    void render();

private:
    Engine& monitor_;
    QLabel* marker_;
    QLabel* status_;
    QLabel* updated_;
    QToolButton* refresh_;
    WarningLine* error_;
    QWidget* warnings_;  // one line per standing warning of the monitor
    std::vector<WarningLine*> warningLines_;
    QWidget* offer_;
    QLabel* offerPath_;
    QToolButton* offerUse_;
    // The places are searched again only when the error changes, not on every redraw.
    std::optional<LocalizedMessage> searchedFor_;
    std::vector<std::string> found_;
};

}  // namespace quotalume
