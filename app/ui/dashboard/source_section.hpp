#pragma once

#include <QWidget>

#include <string>

class QLabel;

namespace quotalume {

class AccountNotices;
class CardStack;
class Engine;
class LimitNotice;
class PlanBadge;
class WarningLine;
struct EngineReading;

// One source's figures, from its own reading: why Codex takes no usage now (when it does not),
// its quota cards and what else the reading says. Among several sources it is headed by the
// source's label (with when it was read and the plan) and says what went wrong with it; one
// that reads the same account as an earlier source says so in a line instead of figures.
class SourceSection : public QWidget {
    Q_OBJECT

public:
    // `several`: among other sources, so headed and compact. `compact`: compact alone too,
    // where the screen leaves too little room for the full cards.
    SourceSection(Engine& monitor, bool several, bool compact = false, QWidget* parent = nullptr);

    void render(const EngineReading& reading);
    const std::string& label() const { return label_; }

private:
    void renderHeader(const EngineReading& reading);
    void renderBlocked(const EngineReading& reading);

    Engine& monitor_;
    const bool several_;
    const bool compact_;
    std::string label_;
    QWidget* header_;
    QLabel* name_;
    QLabel* updated_;
    PlanBadge* badge_;
    WarningLine* error_;  // alone, the connection status says it
    QLabel* sameAs_;
    LimitNotice* blocked_;  // above the cards: it outranks whatever they show
    CardStack* cards_;
    AccountNotices* notices_;
};

}  // namespace quotalume
