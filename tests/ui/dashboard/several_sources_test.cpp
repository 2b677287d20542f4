#include "dashboard/dashboard_view.hpp"
#include "dashboard/panel_geometry.hpp"
#include "dashboard/quota_panel.hpp"
#include "monitor_harness.hpp"
#include "widgets/warning_line.hpp"

#include <QAbstractButton>
#include <QDir>
#include <QPixmap>
#include <QToolButton>

#include <nlohmann/json.hpp>

#include <cstdlib>

namespace quotalume {
namespace {

using test::find, test::labelText, test::shown;

// The engine reading two sources: "Personal" (the first) and "Work", each with a Codex home of
// its own; the fake Codex answers them in turn, the first first.
class SeveralSourcesTest : public testing::Test {
protected:
    SeveralSourcesTest() { useSources("Personal", "Work"); }

    void useSources(const std::string& first, const std::string& second) {
        PreferencesModel& preferences = harness.monitor->preferences();
        preferences.set(AccountSources::labelKey, first);
        preferences.set(AccountSources::listKey,
                        nlohmann::json::array(
                            {{{"label", second}, {"codexHome", workHome.str()}, {"codexPath", ""}}})
                            .dump());
    }
    // A reading of the account `account`, as harness.reading() makes them.
    UsageSnapshot of(const std::string& account, double fiveHourUsed, double weeklyUsed,
                     std::optional<std::string> plan = "pro") const {
        UsageSnapshot reading = harness.reading(fiveHourUsed, weeklyUsed, std::move(plan));
        reading.accountFingerprint = UsageSnapshot::fingerprint(account);
        return reading;
    }
    // Starts (or refreshes) and answers both sources' readings.
    void read(FetchResult first, FetchResult second, bool start = false) {
        if (start) {
            harness.start(std::move(first));
        } else {
            harness.refresh(std::move(first));
        }
        harness.answer(std::move(second));
    }
    static QWidget* section(const QWidget& root, int index) {
        return find(root, QStringLiteral("source.%1").arg(index).toLatin1().constData());
    }

    test::MonitorHarness harness;
    test::TempDir workHome;
};

TEST_F(SeveralSourcesTest, EachSourceShowsItsOwnFiguresUnderItsLabel) {
    DashboardView view(*harness.bridge, [] {});
    view.show();
    UsageSnapshot personal = of("personal", 24, 39);
    personal.buckets[0].credits = CreditsSnapshot{true, false, "12.5"};
    read(personal, of("work", 88, 62, "plus"), true);

    const struct {
        const char* name;
        int index;
        QString label;
        QString fiveHour;
        QString weekly;
        QString plan;
        bool credits;
    } rows[] = {
        {"the first", 0, "Personal", "76%", "61%", "Pro", true},
        {"the second", 1, "Work", "12%", "38%", "PLUS", false},
    };
    for (const auto& row : rows) {
        const QWidget* source = section(view, row.index);
        ASSERT_TRUE(source) << row.name;
        EXPECT_TRUE(shown(*source, "sourceHeader")) << row.name;
        EXPECT_EQ(labelText(*source, "sourceLabel"), row.label) << row.name;
        EXPECT_TRUE(find(*source, "sourceLabel")->accessibleName().contains(row.label)) << row.name;
        EXPECT_TRUE(source->accessibleName().contains(row.label)) << row.name;
        EXPECT_EQ(labelText(*find(*source, "quotaCard.five_hour"), "percentage"), row.fiveHour)
            << row.name;
        EXPECT_EQ(labelText(*find(*source, "quotaCard.weekly"), "percentage"), row.weekly)
            << row.name;
        EXPECT_EQ(find(*source, "sourcePlan")->accessibleName(), row.plan) << row.name;
        EXPECT_EQ(shown(*source, "credits"), row.credits) << row.name;
        EXPECT_FALSE(shown(*source, "sourceError")) << row.name;
    }
    EXPECT_EQ(labelText(*find(*section(view, 1), "quotaCard.five_hour"), "warning"),
              "Almost used up");
    // Each section says its own plan and status; the shared ones would speak for one source.
    EXPECT_FALSE(shown(view, "planBadge"));
    EXPECT_FALSE(shown(view, "status"));
    EXPECT_EQ(find<QAbstractButton>(view, "refresh")->text(), test::text("common.refresh"));
}

// A label is the user's text: shown as written, never read as markup or a shortcut, and never
// wider than the panel, however long.
TEST_F(SeveralSourcesTest, ALabelShowsAsItIsWritten) {
    DashboardView view(*harness.bridge, [] {});
    view.show();
    read(of("personal", 24, 39), of("work", 50, 50), true);
    const struct {
        const char* name;
        std::string first;
        std::string second;
    } rows[] = {
        {"markup", "<b>Mine</b>", "<i>Work</i>"},
        {"a shortcut's mark", "Mine", "R&D"},
        {"the longest, one word", "Mine", std::string(AccountSources::longestLabel, 'W')},
    };
    for (const auto& row : rows) {
        useSources(row.first, row.second);
        read(of("personal", 24, 39), of("work", 50, 50));
        for (const auto& [index, label] : {std::pair{0, row.first}, {1, row.second}}) {
            const auto* name = find<QLabel>(*section(view, index), "sourceLabel");
            ASSERT_TRUE(name) << row.name;
            EXPECT_EQ(name->text().toStdString(), label) << row.name;
            EXPECT_EQ(name->textFormat(), Qt::PlainText) << row.name;
        }
        EXPECT_LE(view.minimumSizeHint().width(), QuotaPanel::contentWidth) << row.name;
    }
}

// A source that fails says so in its own section; the other's figures stay as they were read.
TEST_F(SeveralSourcesTest, AFailingSourceSaysSoInItsOwnSection) {
    DashboardView view(*harness.bridge, [] {});
    view.show();
    read(of("personal", 24, 39), of("work", 50, 50), true);
    const LocalizedMessage timeout("error.timeout");
    read(of("personal", 30, 39), timeout);

    const QWidget* personal = section(view, 0);
    const QWidget* work = section(view, 1);
    ASSERT_TRUE(personal && work);
    EXPECT_FALSE(shown(*personal, "sourceError"));
    EXPECT_FALSE(shown(*find(*personal, "quotaCard.five_hour"), "stale"));
    EXPECT_EQ(labelText(*find(*personal, "quotaCard.five_hour"), "percentage"), "70%");
    ASSERT_TRUE(shown(*work, "sourceError"));
    EXPECT_EQ(find<WarningLine>(*work, "sourceError")->text(),
              QString::fromStdString(timeout.localized()));
    EXPECT_TRUE(shown(*find(*work, "quotaCard.five_hour"), "stale"))
        << "the last figures, marked outdated";
    EXPECT_EQ(labelText(*find(*work, "quotaCard.five_hour"), "percentage"), "50%");
    EXPECT_FALSE(shown(view, "errorLine")) << "said once, in the section";
}

// Two sources on one account: the account is read once, and the later source says whose
// figures are its own.
TEST_F(SeveralSourcesTest, ASourceOnAnAccountReadBeforeSaysSoInsteadOfFigures) {
    DashboardView view(*harness.bridge, [] {});
    view.show();
    read(of("personal", 24, 39), of("personal", 24, 39), true);
    const QWidget* work = section(view, 1);
    ASSERT_TRUE(work);
    ASSERT_EQ(harness.monitor->reading().accounts.at(0).sameAs, "Personal");
    EXPECT_TRUE(shown(*work, "sourceHeader"));
    ASSERT_TRUE(shown(*work, "sameAccount"));
    EXPECT_EQ(labelText(*work, "sameAccount"),
              QString::fromStdString(L10n::render("account.same_as", {"Personal"})));
    EXPECT_FALSE(shown(*work, "cards"));
    EXPECT_FALSE(shown(*work, "sourceUpdated"));
    EXPECT_FALSE(shown(*work, "sourcePlan"));
    EXPECT_EQ(labelText(*find(*section(view, 0), "quotaCard.five_hour"), "percentage"), "76%");

    // Read again as an account of its own, it shows its figures.
    read(of("personal", 24, 39), of("work", 50, 50));
    EXPECT_FALSE(shown(*section(view, 1), "sameAccount"));
    EXPECT_EQ(labelText(*find(*section(view, 1), "quotaCard.five_hour"), "percentage"), "50%");
}

// Back to one source, the dashboard is as it always was: no header, the shared status.
TEST_F(SeveralSourcesTest, OneSourceLeftShowsNoHeader) {
    DashboardView view(*harness.bridge, [] {});
    view.show();
    read(of("personal", 24, 39), of("work", 50, 50), true);
    harness.monitor->preferences().set(AccountSources::listKey, "[]");
    harness.refresh(of("personal", 24, 39));
    EXPECT_FALSE(view.findChild<QWidget*>(QStringLiteral("source.1")));
    ASSERT_TRUE(section(view, 0));
    EXPECT_FALSE(shown(*section(view, 0), "sourceHeader"));
    EXPECT_TRUE(shown(view, "planBadge"));
    EXPECT_TRUE(shown(view, "status"));
    EXPECT_EQ(find<QToolButton>(view, "refresh")->toolButtonStyle(), Qt::ToolButtonIconOnly);
}

// On a 1366 × 768 screen above a 44-pixel desktop panel (as tall as they come), the panel shows
// both sources' figures without scrolling, once their charts show too. QUOTALUME_DASHBOARD_SHOTS
// names a folder to save what it looks like in.
TEST_F(SeveralSourcesTest, BothSourcesFiguresFitASmallScreen) {
    const QRect screen(0, 0, 1366, 768);
    const QRect available(0, 0, 1366, 724);
    QuotaPanel panel(*harness.bridge, [] {});
    UsageSnapshot personal = of("personal", 24, 39);
    personal.buckets[0].credits = CreditsSnapshot{true, false, "128.5"};
    read(personal, of("work", 88, 62, "plus"), true);
    panel.popUp(QRect(1300, 730, 24, 32));

    const struct {
        const char* name;
        int minutes;  // readings kept, five minutes apart
    } rows[] = {{"first readings", 0}, {"with charts", 15}};
    for (const auto& row : rows) {
        for (int minute = 5; minute <= row.minutes; minute += 5) {
            harness.clock.now_ += std::chrono::minutes(5);
            UsageSnapshot next = of("personal", 24 + minute, 39);
            next.buckets[0].credits = personal.buckets[0].credits;
            read(next, of("work", 88 + minute / 5, 62, "plus"));
        }
        panel.placeOn(screen, available);
        harness.settle();
        for (int index : {0, 1}) {
            const QWidget* source = section(*panel.view(), index);
            ASSERT_TRUE(source) << row.name;
            for (const char* card : {"quotaCard.five_hour", "quotaCard.weekly"}) {
                const QWidget* figures = find(*source, card);
                const int bottom = figures->mapTo(&panel, QPoint(0, figures->height())).y();
                EXPECT_LE(bottom, panel.height()) << row.name << ", source " << index << ", "
                                                  << card << " of " << panel.measuredHeight();
            }
        }
        if (const char* folder = std::getenv("QUOTALUME_DASHBOARD_SHOTS")) {
            panel.grab().save(QDir(QString::fromLocal8Bit(folder))
                                  .filePath(QStringLiteral("two-sources-%1.png").arg(row.minutes)));
        }
    }
}

}  // namespace
}  // namespace quotalume
