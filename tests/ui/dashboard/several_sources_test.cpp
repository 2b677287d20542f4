#include "dashboard/dashboard_card_surface.hpp"
#include "dashboard/dashboard_view.hpp"
#include "dashboard/panel_geometry.hpp"
#include "dashboard/quota_card.hpp"
#include "dashboard/quota_panel.hpp"
#include "monitor_harness.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/warning_line.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>

#include <nlohmann/json.hpp>

namespace quotalume {
namespace {

using test::find, test::labelText, test::shown;

// Two sources: `first` and `second`, the latter with a Codex home of its own.
void useTwoSources(test::MonitorHarness& harness, const std::string& first,
                   const std::string& second, const test::TempDir& home) {
    PreferencesModel& preferences = harness.monitor->preferences();
    preferences.set(AccountSources::labelKey, first);
    preferences.set(
        AccountSources::listKey,
        nlohmann::json::array({{{"label", second}, {"codexHome", home.str()}, {"codexPath", ""}}})
            .dump());
}

// A reading of the account `account`, as harness.reading() makes them.
UsageSnapshot readingOfAccount(const test::MonitorHarness& harness, const std::string& account,
                               double fiveHourUsed, double weeklyUsed,
                               std::optional<std::string> plan = "pro") {
    UsageSnapshot reading = harness.reading(fiveHourUsed, weeklyUsed, std::move(plan));
    reading.accountFingerprint = UsageSnapshot::fingerprint(account);
    return reading;
}

QWidget* sourceSection(const QWidget& root, int index) {
    return find(root, QStringLiteral("source.%1").arg(index).toLatin1().constData());
}

// The engine reading two sources: "Personal" (the first) and "Work"; the fake Codex answers
// them in turn, the first first.
class SeveralSourcesTest : public testing::Test {
protected:
    SeveralSourcesTest() { useTwoSources(harness, "Personal", "Work", workHome); }

    UsageSnapshot of(const std::string& account, double fiveHourUsed, double weeklyUsed,
                     std::optional<std::string> plan = "pro") const {
        return readingOfAccount(harness, account, fiveHourUsed, weeklyUsed, std::move(plan));
    }
    // Refreshes and answers both sources' readings.
    void read(FetchResult first, FetchResult second) {
        harness.refresh(std::move(first));
        harness.answer(std::move(second));
    }
    // A dashboard shown, then the engine started on both sources' first readings.
    DashboardView& open(FetchResult first, FetchResult second) {
        view = std::make_unique<DashboardView>(*harness.bridge, [] {});
        view->show();
        harness.start(std::move(first));
        harness.answer(std::move(second));
        return *view;
    }

    test::MonitorHarness harness;
    test::TempDir workHome;
    std::unique_ptr<DashboardView> view;
};

TEST_F(SeveralSourcesTest, EachSourceShowsItsOwnFiguresUnderItsLabel) {
    UsageSnapshot personal = of("personal", 24, 39);
    personal.buckets[0].credits = CreditsSnapshot{true, false, "12.5"};
    DashboardView& view = open(personal, of("work", 88, 62, "plus"));
    const struct {
        const char* name;
        int index;
        QString label, fiveHour, weekly, plan, warning, credits;
    } rows[] = {
        {"the first", 0, "Personal", "76%", "61%", "Pro", "", "12.5"},
        {"the second", 1, "Work", "12%", "38%", "PLUS", "Almost used up", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QWidget* source = sourceSection(view, row.index);
        ASSERT_TRUE(source);
        EXPECT_TRUE(shown(*source, "sourceHeader"));
        EXPECT_EQ(labelText(*source, "sourceLabel"), row.label);
        EXPECT_TRUE(find(*source, "sourceLabel")->accessibleName().contains(row.label));
        EXPECT_TRUE(source->accessibleName().contains(row.label));
        const QWidget* fiveHour = find(*source, "quotaCard.five_hour");
        EXPECT_EQ(labelText(*fiveHour, "percentage"), row.fiveHour);
        EXPECT_EQ(shown(*fiveHour, "warning") ? labelText(*fiveHour, "warning") : QString(),
                  row.warning);
        EXPECT_EQ(labelText(*find(*source, "quotaCard.weekly"), "percentage"), row.weekly);
        EXPECT_EQ(find(*source, "sourcePlan")->accessibleName(), row.plan);
        EXPECT_EQ(shown(*source, "credits") ? labelText(*source, "creditsValue") : QString(),
                  row.credits);
        EXPECT_FALSE(shown(*source, "sourceError"));
    }
    // Each section says its own plan and status; the shared ones would speak for one source.
    EXPECT_FALSE(shown(view, "planBadge"));
    EXPECT_FALSE(shown(view, "status"));
    EXPECT_EQ(find<QAbstractButton>(view, "refresh")->text(), test::text("common.refresh"));
}

// A label is the user's text: shown as written, never read as markup or a shortcut, and never
// wider than the panel, however long.
TEST_F(SeveralSourcesTest, ALabelShowsAsItIsWritten) {
    DashboardView& view = open(of("personal", 24, 39), of("work", 50, 50));
    const struct {
        const char* name;
        std::string first, second;
    } rows[] = {
        {"markup", "<b>Mine</b>", "<i>Work</i>"},
        {"a shortcut's mark", "Mine", "R&D"},
        {"the longest, one word", "Mine", std::string(AccountSources::longestLabel, 'W')},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        useTwoSources(harness, row.first, row.second, workHome);
        read(of("personal", 24, 39), of("work", 50, 50));
        for (const auto& [index, label] : {std::pair{0, row.first}, {1, row.second}}) {
            const auto* name = find<QLabel>(*sourceSection(view, index), "sourceLabel");
            ASSERT_TRUE(name);
            EXPECT_EQ(name->text().toStdString(), label);
            EXPECT_EQ(name->textFormat(), Qt::PlainText);
        }
        EXPECT_LE(view.minimumSizeHint().width(), QuotaPanel::contentWidth);
    }
}

// Two sources on one account: the account is read once, and the later source says whose
// figures are its own. Read as an account of its own it shows them, and when it then fails it
// says so in its own section, its last figures marked outdated; the other's stay as read.
TEST_F(SeveralSourcesTest, ASourceSaysInItsOwnSectionThatItSharesAnAccountOrFails) {
    DashboardView& view = open(of("personal", 24, 39), of("personal", 24, 39));
    // Looked up after each reading: a section may be built anew.
    const auto personal = [&] { return sourceSection(view, 0); };
    const auto work = [&] { return sourceSection(view, 1); };
    ASSERT_TRUE(personal() && work());
    ASSERT_EQ(harness.monitor->reading().accounts.at(0).sameAs, "Personal");
    EXPECT_TRUE(shown(*work(), "sourceHeader"));
    ASSERT_TRUE(shown(*work(), "sameAccount"));
    EXPECT_EQ(labelText(*work(), "sameAccount"),
              QString::fromStdString(L10n::render("account.same_as", {"Personal"})));
    for (const char* name : {"cards", "sourceUpdated", "sourcePlan"}) {
        EXPECT_FALSE(shown(*work(), name)) << name;
    }
    const auto percentage = [](const QWidget& source) {
        return labelText(*find(source, "quotaCard.five_hour"), "percentage");
    };
    EXPECT_EQ(percentage(*personal()), "76%");

    read(of("personal", 24, 39), of("work", 50, 50));
    EXPECT_FALSE(shown(*work(), "sameAccount"));
    EXPECT_EQ(percentage(*work()), "50%");

    const LocalizedMessage timeout("error.timeout");
    read(of("personal", 30, 39), timeout);
    EXPECT_FALSE(shown(*personal(), "sourceError"));
    EXPECT_FALSE(shown(*find(*personal(), "quotaCard.five_hour"), "stale"));
    EXPECT_EQ(percentage(*personal()), "70%");
    ASSERT_TRUE(shown(*work(), "sourceError"));
    EXPECT_EQ(find<WarningLine>(*work(), "sourceError")->text(),
              QString::fromStdString(timeout.localized()));
    EXPECT_TRUE(shown(*find(*work(), "quotaCard.five_hour"), "stale"))
        << "the last figures, marked outdated";
    EXPECT_EQ(percentage(*work()), "50%");
    EXPECT_FALSE(shown(view, "errorLine")) << "said once, in the section";
}

// Back to one source, the dashboard is as it always was: no header, the shared status and plan.
TEST_F(SeveralSourcesTest, OneSourceLeftShowsNoHeader) {
    DashboardView& view = open(of("personal", 24, 39), of("work", 50, 50));
    harness.monitor->preferences().set(AccountSources::listKey, "[]");
    harness.refresh(of("personal", 24, 39));
    EXPECT_FALSE(view.findChild<QWidget*>(QStringLiteral("source.1")));
    ASSERT_TRUE(sourceSection(view, 0));
    EXPECT_FALSE(shown(*sourceSection(view, 0), "sourceHeader"));
    EXPECT_TRUE(shown(view, "planBadge"));
    EXPECT_EQ(find(view, "planBadge")->accessibleName(), "Pro");
    EXPECT_TRUE(shown(view, "status"));
    EXPECT_EQ(find<QToolButton>(view, "refresh")->toolButtonStyle(), Qt::ToolButtonIconOnly);
    harness.refresh(of("personal", 24, 39, std::nullopt));
    EXPECT_FALSE(shown(view, "planBadge")) << "no plan, no badge";
}

// On the common laptop and desktop screens, under a desktop panel at the top or the bottom, the
// dashboard fits the room the panel leaves: every source's figures and the footer show without
// scrolling, once half a day of readings draws the charts and a warning and an error show too.
// A screen with room enough keeps the full layout.
TEST_F(SeveralSourcesTest, EveryScreenShowsEveryFigureAndTheFooterWithoutScrolling) {
    const struct {
        const char* name;
        QRect screen, available;
        int accounts;
        bool compact;
    } rows[] = {
        {"1280x720, bar above, 2 accounts", {0, 0, 1280, 720}, {0, 30, 1280, 690}, 2, true},
        {"1366x768, bar below, 2 accounts", {0, 0, 1366, 768}, {0, 0, 1366, 724}, 2, true},
        {"1920x1080, bar above, 2 accounts", {0, 0, 1920, 1080}, {0, 28, 1920, 1052}, 2, false},
        {"1366x768, bar below, 1 account", {0, 0, 1366, 768}, {0, 0, 1366, 724}, 1, true},
        {"1920x1080, bar above, 1 account", {0, 0, 1920, 1080}, {0, 28, 1920, 1052}, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::MonitorHarness harness;
        if (row.accounts > 1) {
            useTwoSources(harness, "Personal", "Work", workHome);
        }
        const auto reading = [&](const char* account, double fiveHour, double weekly) {
            UsageSnapshot snapshot = readingOfAccount(harness, account, fiveHour, weekly);
            snapshot.buckets[0].credits = CreditsSnapshot{true, false, "128.5"};
            return snapshot;
        };
        // Answers both sources with their readings at `minute`, `first` instead of the first's.
        const auto answerAll = [&](double minute, std::optional<FetchResult> first = {}) {
            harness.answer(first.value_or(reading("personal", 10 + minute / 10, 30 + minute / 60)));
            if (row.accounts > 1) {
                harness.answer(reading("work", 60 + minute / 12, 50 + minute / 40));
            }
        };
        QuotaPanel panel(*harness.bridge, [] {});
        harness.monitor->start();
        answerAll(0);
        for (int minute = 30; minute <= 12 * 60; minute += 30) {
            harness.clock.now_ += std::chrono::minutes(30);
            harness.monitor->refresh();
            answerAll(minute);
        }
        harness.monitor->refresh();
        answerAll(0, LocalizedMessage("error.timeout"));  // the first source's error line
        panel.popUp(QRect(row.screen.right() - 60, row.available.top() - 28, 24, 24));
        harness.settle();
        panel.placeOn(row.screen, row.available);

        EXPECT_LE(panel.height(), row.available.height() - 2 * PanelGeometry::margin);
        EXPECT_EQ(panel.view()->compact(), row.compact);
        const auto* scroll = panel.findChild<QScrollArea*>(QStringLiteral("dashboardScroll"));
        ASSERT_TRUE(scroll);
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible()) << panel.measuredHeight();
        const auto inSight = [&](const QWidget& widget) {
            const QPoint corner = widget.mapTo(&panel, QPoint(widget.width(), widget.height()));
            return widget.isVisible() && corner.y() <= panel.height() &&
                   corner.x() <= panel.width();
        };
        for (int index = 0; index < row.accounts; ++index) {
            const QWidget* source = sourceSection(*panel.view(), index);
            ASSERT_TRUE(source);
            for (const char* card : {"quotaCard.five_hour", "quotaCard.weekly"}) {
                const QWidget* figures = find(*source, card);
                ASSERT_TRUE(figures);
                EXPECT_TRUE(inSight(*figures)) << "source " << index << ", " << card;
                EXPECT_TRUE(shown(*figures, "usageChart")) << "source " << index << ", " << card;
            }
        }
        if (row.compact && row.accounts > 1) {
            // The cards leave the outdated tag to the failing source's heading.
            const QWidget& failing = *sourceSection(*panel.view(), 0);
            EXPECT_EQ(labelText(failing, "sourceUpdated"), "Outdated");
            EXPECT_FALSE(shown(*find(failing, "quotaCard.weekly"), "stale"));
        }
        for (const char* name : {"settings", "quit", "credits"}) {
            EXPECT_TRUE(inSight(*find(*panel.view(), name))) << name;
        }
    }
}

// Once the room grows (a screen plugged in, a panel gone), the full layout comes back; when it
// shrinks, the compact one.
TEST_F(SeveralSourcesTest, TheLayoutFollowsTheRoom) {
    harness.monitor->preferences().set(AccountSources::listKey, "[]");
    QuotaPanel panel(*harness.bridge, [] {});
    harness.start(of("personal", 24, 39));
    for (int minute = 5; minute <= 30; minute += 5) {
        harness.clock.now_ += std::chrono::minutes(5);
        harness.refresh(of("personal", 24 + minute, 39));
    }
    panel.popUp(QRect(1300, 0, 24, 24));
    // Large, small, and each again.
    for (const bool small : {false, true, false, true}) {
        SCOPED_TRACE(small ? "small" : "large");
        const int height = small ? 400 : 1052;
        harness.settle();
        panel.placeOn(QRect(0, 0, 1920, height + 28), QRect(0, 28, 1920, height));
        EXPECT_EQ(panel.view()->compact(), small);
        EXPECT_LE(panel.height(), height - 2 * PanelGeometry::margin);
        EXPECT_EQ(find(*panel.view(), "subtitle")->isVisible(), !small);
    }
}

// The accessible names of the controls Tab reaches in `window`, once round.
QStringList dashboardTabRound(QWidget& window) {
    window.activateWindow();
    QCoreApplication::processEvents();
    QStringList names;
    const QWidget* first = nullptr;
    for (int step = 0; step < 40; ++step) {
        QWidget* from = window.focusWidget() != nullptr ? window.focusWidget() : &window;
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(from, &tab);
        QWidget* reached = window.focusWidget();
        if (reached == nullptr || reached == first) {
            break;
        }
        first = first != nullptr ? first : reached;
        names << QAccessible::queryAccessibleInterface(reached)->text(QAccessible::Name);
        // A card shows the focus ring just inside its edge while the keyboard is on it.
        if (qobject_cast<DashboardCardSurface*>(reached) != nullptr) {
            const QImage card = reached->grab().toImage();
            EXPECT_EQ(card.pixel(1, card.height() / 2),
                      QuotalumeStyle::focusRing(QuotalumeStyle::isDark(reached->palette())).rgb())
                << names.back().toStdString();
        }
    }
    return names;
}

// Tab reaches the close button, each source's cards along their rows, its other bucket, and the
// buttons below, in the order they are read, full and compact alike. A card is one element
// that says its window, its figure as printed and its reset; its parts are not read again.
TEST_F(SeveralSourcesTest, TabReadsEveryCardAndButtonInOrder) {
    const test::ScopedEnvironment zone("TZ", "UTC");
    harness.center.status = NotificationAuthorization::unavailable;  // "Check Again" shows
    UsageSnapshot personal = of("personal", 24, 39);
    personal.buckets.push_back(RateBucket{
        "codex_bengalfox", "Spark", RateWindow{10, 300, 1'800'003'600.0}, RateWindow{20, 10080}});
    personal.buckets[0].credits = CreditsSnapshot{true, false, "12.5"};
    UsageSnapshot work = of("work", 88, 62);
    work.buckets[0].secondary = RateWindow{50, 43200, 1'801'728'000.0};  // 30 days
    DashboardView& view = open(personal, work);

    const std::string expected =
        "Close | 5-hour limit, 76 percent left, resets at 9:00\u202fAM"
        " | Weekly limit, 61 percent left, resets at 1/18/27, 7:20\u202fPM"
        " | Spark: 5H 90% \u00b7 7D 80% | 5-hour limit, 12 percent left, resets at 9:00\u202fAM"
        " | 30-day limit, 50 percent left, resets at 2/4/27, 8:00\u202fAM | " +
        test::text("notification.toggle").toStdString() +
        " | Check Again | Refresh | Settings | Quit";
    for (const bool compact : {false, true}) {
        SCOPED_TRACE(compact ? "compact" : "full");
        view.setCompact(compact);
        if (QWidget* focused = view.focusWidget()) {
            focused->clearFocus();  // the round starts from the window
        }
        EXPECT_EQ(dashboardTabRound(view).join(QStringLiteral(" | ")).toStdString(), expected);
        QList<QWidget*> wholes{find(view, "credits")};
        for (QuotaCard* card : view.findChildren<QuotaCard*>()) {
            wholes << card;
        }
        ASSERT_EQ(wholes.size(), 5);
        for (QWidget* whole : wholes) {
            EXPECT_EQ(QAccessible::queryAccessibleInterface(whole)->childCount(), 0)
                << whole->objectName().toStdString();
        }
    }
}

}  // namespace
}  // namespace quotalume
