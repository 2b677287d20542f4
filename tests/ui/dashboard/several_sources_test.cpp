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
#include <QDir>
#include <QKeyEvent>
#include <QPixmap>
#include <QScrollArea>
#include <QScrollBar>
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

// On the common laptop and desktop screens, under a desktop panel at the top or the bottom, the
// dashboard fits the room the panel leaves: every source's figures and the footer show without
// scrolling, once half a day of readings draws the charts and a warning and an error show too.
// A screen with room enough keeps the full layout. QUOTALUME_DASHBOARD_SHOTS names a folder to
// save what it looks like in.
TEST_F(SeveralSourcesTest, EveryScreenShowsEveryFigureAndTheFooterWithoutScrolling) {
    const struct {
        const char* name;
        QRect screen;
        QRect available;
        int accounts;
        bool compact;
    } rows[] = {
        {"1280 x 720, a panel above, two accounts", {0, 0, 1280, 720}, {0, 30, 1280, 690}, 2, true},
        {"1366 x 768, a panel below, two accounts", {0, 0, 1366, 768}, {0, 0, 1366, 724}, 2, true},
        {"1920 x 1080, a panel above, two accounts",
         {0, 0, 1920, 1080},
         {0, 28, 1920, 1052},
         2,
         false},
        {"1366 x 768, a panel below, one account", {0, 0, 1366, 768}, {0, 0, 1366, 724}, 1, true},
        {"1920 x 1080, a panel above, one account",
         {0, 0, 1920, 1080},
         {0, 28, 1920, 1052},
         1,
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        test::MonitorHarness harness;
        PreferencesModel& preferences = harness.monitor->preferences();
        if (row.accounts > 1) {
            preferences.set(
                AccountSources::listKey,
                nlohmann::json::array(
                    {{{"label", "Work"}, {"codexHome", workHome.str()}, {"codexPath", ""}}})
                    .dump());
        }
        const auto reading = [&](const std::string& account, double fiveHour, double weekly) {
            UsageSnapshot snapshot = harness.reading(fiveHour, weekly);
            snapshot.accountFingerprint = UsageSnapshot::fingerprint(account);
            snapshot.buckets[0].credits = CreditsSnapshot{true, false, "128.5"};
            return snapshot;
        };
        const auto readAll = [&](double minute, bool start) {
            UsageSnapshot first = reading("personal", 10 + minute / 10, 30 + minute / 60);
            if (start) {
                harness.start(first);
            } else {
                harness.refresh(first);
            }
            if (row.accounts > 1) {
                harness.answer(reading("work", 60 + minute / 12, 50 + minute / 40));
            }
        };
        QuotaPanel panel(*harness.bridge, [] {});
        readAll(0, true);
        for (int minute = 30; minute <= 12 * 60; minute += 30) {
            harness.clock.now_ += std::chrono::minutes(30);
            readAll(minute, false);
        }
        harness.refresh(LocalizedMessage("error.timeout"));  // the first source's error line
        if (row.accounts > 1) {
            harness.answer(reading("work", 60, 50));
        }
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
            const QWidget* source = section(*panel.view(), index);
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
            EXPECT_EQ(labelText(*section(*panel.view(), 0), "sourceUpdated"), "Outdated");
            EXPECT_FALSE(shown(*find(*section(*panel.view(), 0), "quotaCard.weekly"), "stale"));
        }
        for (const char* name : {"settings", "quit", "credits"}) {
            EXPECT_TRUE(inSight(*find(*panel.view(), name))) << name;
        }
        if (const char* folder = std::getenv("QUOTALUME_DASHBOARD_SHOTS")) {
            panel.grab().save(QDir(QString::fromLocal8Bit(folder))
                                  .filePath(QStringLiteral("fit-%1x%2-%3.png")
                                                .arg(row.screen.width())
                                                .arg(row.screen.height())
                                                .arg(row.accounts)));
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
    const struct {
        const char* name;
        int height;
        bool compact;
    } rows[] = {
        {"large", 1052, false},
        {"small", 400, true},
        {"large again", 1052, false},
        {"small again", 400, true},
    };
    for (const auto& row : rows) {
        harness.settle();
        panel.placeOn(QRect(0, 0, 1920, row.height + 28), QRect(0, 28, 1920, row.height));
        EXPECT_EQ(panel.view()->compact(), row.compact) << row.name;
        EXPECT_LE(panel.height(), row.height - 2 * PanelGeometry::margin) << row.name;
        EXPECT_EQ(find(*panel.view(), "subtitle")->isVisible(), !row.compact) << row.name;
    }
}

// The accessible names of the controls Tab reaches in `window`, once round.
QStringList tabRound(QWidget& window) {
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
    DashboardView view(*harness.bridge, [] {});
    view.show();
    UsageSnapshot personal = of("personal", 24, 39);
    personal.buckets.push_back(RateBucket{
        "codex_bengalfox", "Spark", RateWindow{10, 300, 1'800'003'600.0}, RateWindow{20, 10080}});
    personal.buckets[0].credits = CreditsSnapshot{true, false, "12.5"};
    UsageSnapshot work = of("work", 88, 62);
    work.buckets[0].secondary = RateWindow{50, 43200, 1'801'728'000.0};  // 30 days
    read(personal, work, true);

    const QStringList expected = {
        "Close",
        "5-hour limit, 76 percent left, resets at 9:00\u202fAM",
        "Weekly limit, 61 percent left, resets at 1/18/27, 7:20\u202fPM",
        "Spark: 5H 90% \u00b7 7D 80%",
        "5-hour limit, 12 percent left, resets at 9:00\u202fAM",
        "30-day limit, 50 percent left, resets at 2/4/27, 8:00\u202fAM",
        test::text("notification.toggle"),
        "Check Again",
        "Refresh",
        "Settings",
        "Quit",
    };
    const struct {
        const char* name;
        bool compact;
    } rows[] = {{"full", false}, {"compact", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        view.setCompact(row.compact);
        if (QWidget* focused = view.focusWidget()) {
            focused->clearFocus();  // the round starts from the window
        }
        EXPECT_EQ(tabRound(view).join(QStringLiteral(" | ")).toStdString(),
                  expected.join(QStringLiteral(" | ")).toStdString());
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
    int closes = 0;
    QObject::connect(&view, &DashboardView::closeRequested, [&] { ++closes; });
    find<QAbstractButton>(view, "close")->click();
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace quotalume
