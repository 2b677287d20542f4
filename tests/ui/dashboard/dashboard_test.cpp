#include "dashboard/dashboard_view.hpp"
#include "dashboard/panel_geometry.hpp"
#include "dashboard/plan_badge.hpp"
#include "dashboard/quota_panel.hpp"
#include "monitor_harness.hpp"
#include "settings/history_list.hpp"
#include "style/quotalume_style.hpp"
#include "widgets/capsule_bar.hpp"
#include "widgets/warning_line.hpp"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <fstream>

namespace quotalume {
namespace {

using test::find, test::labelText, test::shown;

class DashboardViewTest : public testing::Test {
protected:
    DashboardViewTest() { view.show(); }

    test::MonitorHarness harness;
    DashboardView view{*harness.bridge, [] {}};
};

TEST_F(DashboardViewTest, HiddenItNeitherTicksNorRendersAndCatchesUpWhenShown) {
    harness.start(harness.reading(24, 39));
    const std::size_t shownTimers = harness.loop.activeTimers();
    view.hide();
    EXPECT_EQ(harness.loop.activeTimers(), shownTimers - 1) << "the one-second clock stops";
    harness.refresh(harness.reading(50, 39));
    EXPECT_EQ(labelText(*find(view, "quotaCard.five_hour"), "percentage"), "76%");
    view.show();
    EXPECT_EQ(harness.loop.activeTimers(), shownTimers);
    EXPECT_EQ(labelText(*find(view, "quotaCard.five_hour"), "percentage"), "50%");
}

// The figure says what it counts, on the side the language puts it, and nothing left at all is
// said as such. A screen reader hears the card as one element: the window, the figure as
// printed and the reset in its name, what else the card shows in its description.
TEST_F(DashboardViewTest, EachFigureSaysItIsTheShareLeft) {
    const test::ScopedEnvironment zone("TZ", "UTC");
    const struct {
        const char* name;
        AppLanguage language;
        double fiveHourUsed;
        std::string before, after, accessibleName, description;
    } rows[] = {
        {"German", AppLanguage::german, 24, "", "übrig",
         "5-Stunden-Limit, 76 Prozent übrig, Zurücksetzung um 09:00",
         "Zurücksetzung in 1 Std. 0 Min."},
        {"Japanese, before the figure", AppLanguage::japanese, 24, "残り", "",
         "5時間制限、残り76パーセント、9:00にリセット", "1時間0分後にリセット"},
        {"used up", AppLanguage::english, 100, "", "left",
         "5-hour limit, 0 percent left, resets at 9:00\u202fAM", "Used up, Resets in 1 h 0 min"},
        {"a sliver left, as printed", AppLanguage::english, 99.5, "", "left",
         "5-hour limit, <1 percent left, resets at 9:00\u202fAM",
         "Almost used up, Resets in 1 h 0 min"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        harness.monitor->preferences().setLanguage(row.language);
        harness.start(harness.reading(row.fiveHourUsed, 39));
        QWidget* card = find(view, "quotaCard.five_hour");
        ASSERT_TRUE(card);
        EXPECT_EQ(shown(*card, "leftBefore"), !row.before.empty());
        EXPECT_EQ(shown(*card, "leftAfter"), !row.after.empty());
        EXPECT_EQ(labelText(*card, row.before.empty() ? "leftAfter" : "leftBefore").toStdString(),
                  row.before + row.after);
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(card);
        ASSERT_TRUE(spoken);
        EXPECT_EQ(spoken->text(QAccessible::Name).toStdString(), row.accessibleName);
        EXPECT_EQ(spoken->text(QAccessible::Description).toStdString(), row.description);
        EXPECT_EQ(spoken->childCount(), 0) << "its labels, bar and chart are not read again";
    }
    harness.monitor->preferences().setLanguage(AppLanguage::english);
}

// Readings kept over a quarter hour draw the window so far and say when it runs out.
TEST_F(DashboardViewTest, ACardChartsItsWindowAndForecastsItOnceReadingsAreKept) {
    harness.start(harness.reading(20, 39));
    const QWidget* fiveHour = find(view, "quotaCard.five_hour");
    ASSERT_TRUE(fiveHour);
    EXPECT_FALSE(shown(*fiveHour, "usageChart")) << "one reading is no chart";
    EXPECT_FALSE(shown(*fiveHour, "forecast"));
    for (int minute = 5; minute <= 15; minute += 5) {
        harness.clock.now_ += std::chrono::minutes(5);
        harness.refresh(harness.reading(20 + 2 * minute, 39));
    }
    EXPECT_TRUE(shown(*fiveHour, "usageChart"));
    EXPECT_TRUE(labelText(*fiveHour, "forecast").startsWith("At this pace, runs out at "))
        << labelText(*fiveHour, "forecast").toStdString();
    EXPECT_FALSE(shown(*find(view, "quotaCard.weekly"), "forecast"))
        << "two readings of an unchanged figure are too few";
}

// What Codex says beyond the two windows: above the cards when it blocks, below them else.
TEST_F(DashboardViewTest, ABlockedAccountASpendLimitAndBankedResets) {
    harness.start(harness.reading(24, 39));
    for (const char* name : {"blocked", "spendLimit", "bankedResets"}) {
        EXPECT_FALSE(shown(view, name)) << name << " without a word from Codex";
    }
    UsageSnapshot reading = harness.reading(24, 39);
    reading.buckets[0].rateLimitReachedType = "workspace_member_credits_depleted";
    reading.buckets[0].individualLimit = SpendControlLimit{"50.00", "31.20", 37.6, std::nullopt};
    reading.resetCredits = ResetCreditsSummary{2, {}};
    harness.refresh(reading);
    EXPECT_TRUE(shown(view, "blocked"));
    EXPECT_EQ(labelText(*find(view, "blocked"), "line"),
              "Workspace credits used up — ask the workspace owner");
    EXPECT_EQ(labelText(*find(view, "spendLimit"), "value"), "37% left");
    EXPECT_EQ(labelText(*find(view, "spendLimit"), "caption"), "31.20 of 50.00 used");
    EXPECT_EQ(labelText(*find(view, "bankedResets"), "line"), "Banked resets: 2");

    harness.refresh(harness.reading(24, 39));
    EXPECT_FALSE(shown(view, "blocked")) << "cleared with the next reading";
}

// A model's bucket gets a section of its own under Codex's cards: closed while nothing in it
// presses, open when a window runs low, and as the user leaves it once they chose.
TEST_F(DashboardViewTest, AnotherBucketIsASectionOpenWhenItPresses) {
    const auto withSpark = [&](double sparkUsed) {
        UsageSnapshot reading = harness.reading(24, 39);
        reading.buckets.push_back(RateBucket{"codex_bengalfox", "Spark R&D",
                                             RateWindow{sparkUsed, 300, 1'800'003'600.0},
                                             RateWindow{20, 10080}});
        return reading;
    };
    harness.start(withSpark(10));
    QWidget* section = find(view, "bucket.codex_bengalfox");
    ASSERT_TRUE(section);
    auto* header = test::find<QAbstractButton>(*section, "bucketHeader");
    // Codex's name as it is: a button would read "&" as its shortcut's mark.
    EXPECT_EQ(header->accessibleName().toStdString(), "Spark R&D: 5H 90% \u00b7 7D 80%");
    EXPECT_EQ(header->text().toStdString(), "Spark R&&D: 5H 90% \u00b7 7D 80%");
    EXPECT_FALSE(shown(*section, "bucketDetails")) << "nothing low: closed";
    EXPECT_TRUE(find(view, "quotaCard.five_hour")) << "Codex's cards stay";

    harness.refresh(withSpark(100));
    EXPECT_TRUE(shown(*section, "bucketDetails"));
    const std::string details = labelText(*section, "bucketDetails").toStdString();
    EXPECT_TRUE(details.starts_with("5-hour limit: 0% (Used up) \u00b7 Resets in")) << details;
    EXPECT_NE(header->text().toStdString().find("5-hour limit reached"), std::string::npos);
    EXPECT_FALSE(shown(view, "blocked")) << "Spark used up leaves the account unblocked";

    header->click();  // closed by hand: it stays closed while the bucket stays
    harness.refresh(withSpark(100));
    EXPECT_FALSE(shown(*section, "bucketDetails"));
    EXPECT_EQ(find(view, "bucket.codex_bengalfox"), section);

    harness.refresh(harness.reading(24, 39));
    EXPECT_FALSE(view.findChild<QWidget*>(QStringLiteral("bucket.codex_bengalfox")))
        << "gone with the bucket";
}

// Right to left, the bar fills from the right, and a list's lines stand on the right whatever
// their script: the dashboard's notifications and the history of resets.
TEST(RightToLeftTest, BarsFillAndListsAlignFromTheLeadingEdge) {
    // Where a label's dark text lies: true when its middle is right of the label's middle.
    const auto onTheRight = [](QWidget* label) {
        const QImage image = label->grab().toImage();
        int left = image.width(), right = -1;
        for (int pixel = 0; pixel < image.width() * image.height(); ++pixel) {
            if (qGray(image.pixel(pixel % image.width(), pixel / image.width())) < 128) {
                left = std::min(left, pixel % image.width());
                right = std::max(right, pixel % image.width());
            }
        }
        EXPECT_GE(right, 0) << "no text drawn";
        return left + right > image.width();
    };
    for (const bool right : {false, true}) {
        SCOPED_TRACE(right ? "right to left" : "left to right");
        QGuiApplication::setLayoutDirection(right ? Qt::RightToLeft : Qt::LeftToRight);
        test::MonitorHarness harness;
        harness.start(harness.reading(60, 39));  // 40 % left
        DashboardView view(*harness.bridge, [] {});
        view.show();
        QWidget* bar = find(*find(view, "quotaCard.five_hour"), "bar");
        ASSERT_TRUE(bar);
        const QImage track = bar->grab().toImage();
        const QColor fill = CapsuleBar::fillColor(40, QuotalumeStyle::isDark(bar->palette()));
        const int middle = track.height() / 2;
        EXPECT_EQ(track.pixelColor(right ? track.width() - 4 : 3, middle), fill);
        EXPECT_NE(track.pixelColor(right ? 3 : track.width() - 4, middle), fill);
        EXPECT_EQ(onTheRight(find(view, "notificationsTitle")), right);

        EventRecord record{.event = ResetEvent::test(Date{})};
        HistoryList list;
        list.resize(400, 200);
        list.show(std::vector{record});
        list.QWidget::show();  // HistoryList::show() lists; this shows
        EXPECT_EQ(onTheRight(find(list, "history.title")), right);
    }
    QGuiApplication::setLayoutDirection(Qt::LeftToRight);
}

TEST(PlanBadgeTest, ProInAnyCaseElseThePlanInCapitals) {
    EXPECT_EQ(PlanBadge::badgeText("PRO"), "Pro");
    EXPECT_EQ(PlanBadge::badgeText("plus"), "PLUS");
}

TEST_F(DashboardViewTest, PlaceholderAndWarningsFollowTheMonitor) {
    harness.start();
    EXPECT_EQ(labelText(view, "placeholderText"), "Loading usage…");
    EXPECT_FALSE(find(view, "refresh")->isEnabled()) << "while refreshing";
    // The first run says what it does; nothing has failed yet.
    EXPECT_EQ(labelText(view, "status"), "Reading Codex…");
    EXPECT_FALSE(shown(view, "statusMarker"));

    const LocalizedMessage timeout("error.timeout");
    harness.answer(timeout);
    EXPECT_TRUE(find(view, "refresh")->isEnabled());
    EXPECT_EQ(labelText(view, "placeholderText"), "No data");
    EXPECT_EQ(labelText(view, "status"), "Update failed");
    EXPECT_EQ(find<WarningLine>(view, "errorLine")->text(),
              QString::fromStdString(timeout.localized()));
    EXPECT_TRUE(shown(view, "statusMarker"));
    harness.refresh();
    EXPECT_EQ(labelText(view, "status"), "Reading Codex…") << "tried again, never read";
    harness.answer(timeout);

    // A data folder that cannot be made: the reading shows, and so does the trouble saving it.
    std::ofstream(harness.dir.path() / "data") << "in the way";
    harness.refresh(harness.reading(24, 39));
    EXPECT_FALSE(shown(view, "errorLine"));
    EXPECT_FALSE(shown(view, "placeholder"));
    ASSERT_TRUE(harness.monitor->persistenceWarning().has_value());
    EXPECT_TRUE(shown(view, "warnings"));
    EXPECT_EQ(find<WarningLine>(view, "warningLine0")->text(),
              QString::fromStdString(harness.monitor->persistenceWarning()->localized()));
    harness.refresh();
    EXPECT_EQ(labelText(view, "status"), "Refreshing…") << "read before";
    harness.answer(harness.reading(24, 39));
}

TEST_F(DashboardViewTest, OffersTheOneCodexFoundOnlyWhileNoneIsChosenAndReadingFails) {
    const test::TempDir bin;
    const std::string codex = test::MonitorHarness::codexIn(bin);
    const test::ScopedEnvironment path("PATH", bin.str());
    const test::ScopedEnvironment home("HOME", harness.dir.str());
    const test::ScopedEnvironment codexHome("CODEX_HOME", nullptr);
    std::filesystem::create_directory(harness.dir.path() / ".codex");

    harness.start(harness.reading(24, 39));
    EXPECT_FALSE(shown(view, "codexOffer")) << "nothing to offer while reading works";
    harness.refresh(LocalizedMessage("error.codex_not_found"));
    ASSERT_TRUE(shown(view, "codexOffer"));
    EXPECT_TRUE(labelText(view, "codexOfferPath").contains(QString::fromStdString(codex)));
    EXPECT_TRUE(harness.monitor->settings().codexPath.empty()) << "never adopted unasked";

    // Offline, the program is not in question: the last figures and why they are old.
    const LocalizedMessage offline("error.offline", {"workspace routing discovery failed"});
    harness.refresh(offline);
    EXPECT_FALSE(shown(view, "codexOffer"));
    EXPECT_EQ(find<WarningLine>(view, "errorLine")->text(),
              QString::fromStdString(offline.localized()));
    EXPECT_EQ(labelText(*find(view, "quotaCard.five_hour"), "percentage"), "76%");
    harness.refresh(LocalizedMessage("error.codex_not_found"));

    find<QAbstractButton>(view, "codexOfferUse")->click();
    harness.settle();
    harness.loop.drain();
    EXPECT_EQ(harness.monitor->settings().codexPath, codex);
    EXPECT_EQ(harness.codex.calls.requests().back().executablePath, codex);
    harness.answer(harness.reading(24, 39));
    EXPECT_FALSE(shown(view, "codexOffer"));
}

// Opened, the dashboard asks for everything (the banked resets' details), unless a reading
// with them was just taken.
TEST_F(DashboardViewTest, OpeningItReadsInFullUnlessThatWasJustDone) {
    harness.start(harness.reading(24, 39));
    view.hide();
    view.show();
    harness.loop.drain();
    EXPECT_EQ(harness.codex.calls.waiting(), 0u);
    view.hide();
    harness.clock.now_ += std::chrono::minutes(2);
    view.show();
    harness.loop.drain();
    ASSERT_EQ(harness.codex.calls.waiting(), 1u);
    EXPECT_EQ(harness.codex.depths.back(), CodexClient::Depth::full);
}

TEST_F(DashboardViewTest, NotificationsRowEditsTheSettingAndOffersPermission) {
    harness.center.status = NotificationAuthorization::denied;
    harness.start(harness.reading(24, 39));
    auto* toggle = find<QAbstractButton>(view, "notificationsToggle");
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    harness.settle();
    EXPECT_FALSE(harness.monitor->settings().notificationsEnabled);
    EXPECT_FALSE(toggle->isChecked());

    ASSERT_TRUE(shown(view, "notificationAction"));
    find<QAbstractButton>(view, "notificationAction")->click();
    EXPECT_EQ(harness.center.settingsOpened, 1);

    // A desktop with no settings tool gets no button that does nothing.
    harness.center.settingsTool = false;
    harness.refresh(harness.reading(24, 39));
    EXPECT_FALSE(shown(view, "notificationAction"));

    // No notification service at all is not a refusal: it is said so, and looked for again.
    harness.center.status = NotificationAuthorization::unavailable;
    harness.monitor->notifier().refreshPermission();
    harness.loop.drain();
    harness.settle();
    EXPECT_EQ(labelText(view, "notificationStatus"), "No notification service is running");
    ASSERT_TRUE(shown(view, "notificationAction"));
    EXPECT_EQ(find<QAbstractButton>(view, "notificationAction")->text(), "Check Again");
}

TEST(PanelGeometryTest, PlacesUnderTheAnchorInsideTheScreen) {
    const QRect screen(0, 0, 1000, 700);
    const QRect available(0, 30, 1000, 670);  // a 30-pixel bar at the top
    const QRect topRight(620, 38, 372, 300);
    const struct {
        const char* name;
        std::optional<QRect> anchor;
        QRect expected;
    } rows[] = {
        {"centred under a low anchor", QRect(400, 100, 24, 30), QRect(226, 136, 372, 300)},
        {"no anchor: top right", std::nullopt, topRight},
        {"an anchor without width counts as none", QRect(400, 0, 0, 30), topRight},
        {"an anchor off the screen counts as none", QRect(1400, 0, 24, 30), topRight},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(PanelGeometry::frame(row.anchor, screen, available, 372, 300), row.expected)
            << row.name;
    }
    // Without an icon to go by, the panel opens at the corner where the desktop's panel is.
    const auto corner = [&](QRect area) {
        return PanelGeometry::frame(PanelGeometry::panelCorner(screen, area), screen, area, 372,
                                    300);
    };
    EXPECT_EQ(corner(available), topRight) << "a bar at the top";
    EXPECT_EQ(corner(QRect(0, 0, 1000, 660)), QRect(620, 352, 372, 300)) << "a bar at the bottom";
    EXPECT_EQ(corner(QRect(48, 0, 952, 700)), QRect(56, 8, 372, 300)) << "a bar on the left";
    EXPECT_FALSE(PanelGeometry::panelCorner(screen, screen)) << "no bar";
}

TEST(QuotaPanelTest, ReplacesOnlyForRealHeightChanges) {
    test::MonitorHarness harness;
    harness.start(harness.reading(24, 39));
    QuotaPanel panel(*harness.bridge, [] {});
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry();
    const QRect anchor(available.center().x(), available.top() + 20, 24, 10);
    panel.popUp(anchor);
    ASSERT_TRUE(panel.isVisible());
    const QRect placed = panel.geometry();
    EXPECT_EQ(placed, PanelGeometry::frame(anchor, screen->geometry(), available, 372,
                                           panel.measuredHeight()));

    EXPECT_FALSE(panel.setContentHeight(panel.measuredHeight() + 0.4));
    EXPECT_EQ(panel.geometry(), placed);
    EXPECT_TRUE(panel.setContentHeight(panel.measuredHeight() + 20));
    EXPECT_EQ(panel.geometry().height(), placed.height() + 20);

    // An error line makes the content taller, and the panel follows.
    harness.refresh(LocalizedMessage("error.timeout"));
    EXPECT_GT(panel.measuredHeight(), placed.height());
    EXPECT_NE(panel.measuredHeight(), placed.height() + 20);
    EXPECT_EQ(panel.geometry().height(), static_cast<int>(panel.measuredHeight()));
}

TEST(QuotaPanelTest, OnWaylandAFloatingWindowOfTheContentsSizeNamedAlikeInEveryLanguage) {
    test::MonitorHarness harness;
    harness.start(harness.reading(24, 39));
    test::chooseLanguage(AppLanguage::german);
    QuotaPanel panel(
        *harness.bridge, [] {}, nullptr, QuotaPanel::Surface::floating);
    panel.popUp(std::nullopt);
    EXPECT_EQ(panel.windowTitle(), "Quotalume");
    // A fixed size is what makes a tiling compositor float a window.
    EXPECT_EQ(panel.maximumSize(), QSize(372, static_cast<int>(panel.measuredHeight())));
    EXPECT_EQ(panel.minimumSize(), panel.maximumSize());

    // As a window the compositor may make it any size: the content stays together at the top.
    panel.showAsWindow();
    const QWidget* footer = find(panel, "settings");
    const int top = footer->mapTo(&panel, QPoint()).y();
    panel.resize(372, panel.height() + 300);
    EXPECT_EQ(footer->mapTo(&panel, QPoint()).y(), top);
}

// Without a tray the dashboard is a window: it grows with its content (an error shown after it
// opened) until the user sizes it, and is never taller than the screen.
TEST(QuotaPanelTest, AsAWindowItFollowsItsContentUntilSizedByHand) {
    test::MonitorHarness harness;
    harness.start(harness.reading(24, 39));
    QuotaPanel panel(*harness.bridge, [] {});
    panel.showAsWindow();
    harness.settle();
    const int screen = QGuiApplication::primaryScreen()->availableGeometry().height();
    const int opened = panel.height();
    EXPECT_LE(opened, screen);
    harness.refresh(LocalizedMessage("error.timeout"));
    EXPECT_GT(panel.height(), opened) << "the error line is in sight";
    EXPECT_LE(panel.height(), screen);

    panel.resize(panel.width(), 300);
    harness.refresh(harness.reading(24, 39));
    EXPECT_EQ(panel.height(), 300) << "sized by hand, it stays";
}

}  // namespace
}  // namespace quotalume
