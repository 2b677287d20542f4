#pragma once

#include <quotalume/support/date.hpp>

#include <QWidget>

#include <vector>

class QVBoxLayout;

namespace quotalume {

class BucketSection;
class CreditsRow;
class LimitNotice;
struct EngineReading;

// What one account's reading says beneath its quota cards: the other buckets, the spend limit,
// banked resets and credits. Hidden while it has nothing to show, so it takes no room.
class AccountNotices : public QWidget {
    Q_OBJECT

public:
    explicit AccountNotices(bool compact = false, QWidget* parent = nullptr);

    void render(const EngineReading& reading, Date now);

private:
    void renderBuckets(const EngineReading& reading, Date now);
    void renderSpendLimit(const EngineReading& reading, Date now);
    void renderBankedResets(const EngineReading& reading);

    QVBoxLayout* bucketsLayout_;
    std::vector<BucketSection*> buckets_;
    LimitNotice* spend_;
    LimitNotice* bankedResets_;
    CreditsRow* credits_;
};

}  // namespace quotalume
