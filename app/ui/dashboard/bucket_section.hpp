#pragma once

#include "dashboard/dashboard_card_surface.hpp"

#include <quotalume/support/date.hpp>

#include <optional>
#include <string>

class QLabel;
class QToolButton;

namespace quotalume {

struct BucketSummary;

// A bucket beside Codex's (a model's limits): its name and figures on one line, each window's
// figure and reset under it, and what blocks it. Closed while nothing in it runs low or
// blocks, unless the user opened it; the line opens and closes it, by mouse or keyboard.
class BucketSection : public DashboardCardSurface {
    Q_OBJECT

public:
    explicit BucketSection(QWidget* parent = nullptr);

    void render(const BucketSummary& summary, Date now, bool stale);
    const std::string& id() const { return id_; }
    bool isOpen() const;

private:
    void show(bool open);

    QToolButton* header_;
    QLabel* details_;
    std::string id_;
    std::optional<bool> chosen_;  // the user's own choice, once made
};

}  // namespace quotalume
