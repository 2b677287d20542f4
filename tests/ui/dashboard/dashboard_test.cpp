#include "dashboard/dashboard_panel_controller.hpp"
#include "dashboard/dashboard_view.hpp"
#include "dashboard/panel_geometry.hpp"
#include "dashboard/quota_panel.hpp"
#include "monitor_harness.hpp"
#include "widgets/warning_line.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>

#include <gtest/gtest.h>

#include <fstream>

namespace quotalume {
namespace {

template <typename Widget = QWidget>
Widget* find(const QObject* root, const char* name) {
    auto* widget = root->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

QString labelText(const QObject* root, const char* name) {
    QLabel* label = find<QLabel>(root, name);
    return label ? label->text() : QString();
}

// Shown explicitly-not-hidden: the widgets are never on screen in these tests.
bool shown(const QObject* root, const char* name) {
    QWidget* widget = find(root, name);
    return widget != nullptr && !widget->isHidden();
}

UsageSnapshot demoLike(test::MonitorHarness& harness, std::optional<std::string> plan) {
    UsageSnapshot snapshot = harness.reading(24, 39, std::move(plan));
    snapshot.buckets[0].credits = CreditsSnapshot{true, false, "12.5"};
    return snapshot;
}

// A refresh answered with `reading`.
void reread(test::MonitorHarness& harness, FetchResult reading) {
    harness.monitor->refresh();
    harness.loop.drain();
    harness.answer(std::move(reading));
}

TEST(DashboardViewTest, ShowsAReadingCardByCard) {
    test::MonitorHarness harness;
    DashboardView view(*harness.bridge, [] {});
    harness.start(demoLike(harness, "pro"));

    const QWidget* fiveHour = find(&view, "quotaCard.five_hour");
    const QWidget* weekly = find(&view, "quotaCard.weekly");
    ASSERT_TRUE(fiveHour && weekly);
    EXPECT_EQ(labelText(fiveHour, "title"), "5-hour limit");
    EXPECT_EQ(labelText(fiveHour, "percentage"), "76%");
    EXPECT_EQ(labelText(fiveHour, "countdown"), "Resets in 1 h 0 min");
    EXPECT_FALSE(find<QLabel>(fiveHour, "countdown")->toolTip().isEmpty());
    EXPECT_FALSE(shown(fiveHour, "warning")) << "76 % left is no warning";
    EXPECT_EQ(labelText(weekly, "percentage"), "61%");
    EXPECT_EQ(labelText(weekly, "countdown"), "Resets in 3 d 11 h");
    EXPECT_TRUE(shown(&view, "credits"));
    EXPECT_EQ(labelText(&view, "creditsValue"), "12.5");
    EXPECT_FALSE(shown(&view, "placeholder"));
    EXPECT_EQ(labelText(&view, "subtitle"), "Codex usage limits");

    // Lower shares warn; the countdown follows the monitor's clock.
    reread(harness, harness.reading(80, 60));
    EXPECT_EQ(labelText(fiveHour, "warning"), "Almost used up");
    EXPECT_EQ(labelText(weekly, "warning"), "Running low");

    // Everything follows a language switch.
    ASSERT_FALSE(harness.bridge->setLanguage(AppLanguage::german).has_value());
    harness.settle();
    EXPECT_NE(labelText(fiveHour, "title"), "5-hour limit");
    EXPECT_NE(find<QAbstractButton>(&view, "settings")->text(), "Settings");
}

TEST(DashboardViewTest, PlanBadge) {
    struct Row {
        std::optional<std::string> plan;
        QString text;  // empty: no badge
    };
    for (const Row& row :
         {Row{"PRO", "Pro"}, Row{"pro", "Pro"}, Row{"plus", "PLUS"}, Row{std::nullopt, ""}}) {
        test::MonitorHarness harness;
        DashboardView view(*harness.bridge, [] {});
        harness.start(harness.reading(24, 39, row.plan));
        const QWidget* badge = find(&view, "planBadge");
        EXPECT_EQ(!badge->isHidden(), !row.text.isEmpty()) << row.text.toStdString();
        if (!row.text.isEmpty()) {
            EXPECT_EQ(badge->accessibleName(), row.text);
        }
    }
}

TEST(DashboardViewTest, PlaceholderAndWarningsFollowTheMonitor) {
    test::MonitorHarness harness;
    DashboardView view(*harness.bridge, [] {});
    harness.monitor->start();
    harness.loop.drain();
    harness.settle();
    EXPECT_EQ(labelText(&view, "placeholderText"), "Loading usage…");
    EXPECT_FALSE(shown(&view, "errorLine"));
    EXPECT_FALSE(find<QAbstractButton>(&view, "refresh")->isEnabled()) << "while refreshing";

    harness.answer(LocalizedMessage("error.timeout"));
    EXPECT_TRUE(find<QAbstractButton>(&view, "refresh")->isEnabled());
    EXPECT_EQ(labelText(&view, "placeholderText"), "No data");
    EXPECT_TRUE(shown(&view, "errorLine"));
    EXPECT_EQ(find<WarningLine>(&view, "errorLine")->text(),
              QString::fromStdString(LocalizedMessage("error.timeout").localized()));
    EXPECT_TRUE(shown(&view, "statusMarker"));
    EXPECT_FALSE(shown(&view, "warnings"));
    EXPECT_FALSE(shown(&view, "credits"));

    // A data folder that cannot be made: the reading shows, and so does the trouble saving it.
    std::ofstream(harness.dir.path() / "data") << "in the way";
    reread(harness, harness.reading(24, 39));
    EXPECT_FALSE(shown(&view, "errorLine"));
    EXPECT_FALSE(shown(&view, "placeholder"));
    ASSERT_TRUE(harness.monitor->persistenceWarning().has_value());
    EXPECT_TRUE(shown(&view, "warningLine0"));
    EXPECT_EQ(find<WarningLine>(&view, "warningLine0")->text(),
              QString::fromStdString(harness.monitor->persistenceWarning()->localized()));
}

TEST(DashboardViewTest, OffersTheOneCodexFoundOnlyWhileNoneIsChosenAndReadingFails) {
    test::MonitorHarness harness;
    test::TempDir bin;
    const std::string codex = (bin.path() / "codex").string();
    std::ofstream(codex) << "#!/bin/sh\n";
    std::filesystem::permissions(codex, std::filesystem::perms::owner_all);
    test::ScopedEnvironment path("PATH", bin.str());
    test::ScopedEnvironment home("HOME", harness.dir.str());
    test::ScopedEnvironment codexHome("CODEX_HOME", nullptr);
    std::filesystem::create_directory(harness.dir.path() / ".codex");
    DashboardView view(*harness.bridge, [] {});

    harness.start(harness.reading(24, 39));
    EXPECT_FALSE(shown(&view, "codexOffer")) << "nothing to offer while reading works";
    reread(harness, LocalizedMessage("error.codex_not_found"));
    ASSERT_TRUE(shown(&view, "codexOffer"));
    EXPECT_EQ(labelText(&view, "codexOfferPath"),
              QString::fromStdString(L10n::text("source.found", codex)));
    EXPECT_TRUE(harness.monitor->settings().codexPath.empty()) << "never adopted unasked";

    find<QAbstractButton>(&view, "codexOfferUse")->click();
    harness.settle();
    harness.loop.drain();
    EXPECT_EQ(harness.monitor->settings().codexPath, codex);
    EXPECT_EQ(harness.codex.calls.requests().back().executablePath, codex);
    harness.answer(harness.reading(24, 39));
    EXPECT_FALSE(shown(&view, "codexOffer"));
}

TEST(DashboardViewTest, NotificationsRowEditsTheSettingAndOffersPermission) {
    test::MonitorHarness harness;
    harness.center.status = NotificationAuthorization::denied;
    DashboardView view(*harness.bridge, [] {});
    harness.start(harness.reading(24, 39));

    auto* toggle = find<QAbstractButton>(&view, "notificationsToggle");
    EXPECT_TRUE(toggle->isChecked());
    toggle->click();
    harness.settle();
    EXPECT_FALSE(harness.monitor->settings().notificationsEnabled);
    EXPECT_FALSE(toggle->isChecked());

    auto* action = find<QAbstractButton>(&view, "notificationAction");
    ASSERT_TRUE(shown(&view, "notificationAction"));
    EXPECT_EQ(action->text(), "Open Notification Settings");
    action->click();
    EXPECT_EQ(harness.center.settingsOpened, 1);
}

TEST(PanelGeometryTest, MirrorsQtRectanglesIntoTheUpwardModel) {
    const QRectF qt(10, 20, 30, 40);
    const Rect model = PanelGeometry::toModel(qt);
    EXPECT_EQ(model, (Rect{10, -60, 30, 40}));
    EXPECT_EQ(PanelGeometry::fromModel(model), qt);
    // Lower on screen is lower in the model.
    EXPECT_LT(PanelGeometry::toModel(QRectF(0, 100, 1, 1)).maxY(),
              PanelGeometry::toModel(QRectF(0, 50, 1, 1)).minY());
}

TEST(PanelGeometryTest, PlacesUnderTheAnchorInsideTheScreen) {
    const QRect screen(0, 0, 1000, 700);
    const QRect available(0, 30, 1000, 670);  // a 30-pixel bar at the top
    struct Row {
        const char* name;
        std::optional<QRect> anchor;
        double height;
        QRect expected;
    };
    for (const Row& row : {
             Row{"centred under the icon", QRect(400, 0, 24, 30), 300, QRect(226, 38, 372, 300)},
             Row{"clamped at the right edge", QRect(980, 0, 20, 30), 300, QRect(620, 38, 372, 300)},
             Row{"a low anchor keeps the gap", QRect(400, 100, 24, 30), 300,
                 QRect(226, 136, 372, 300)},
             Row{"no anchor: top right", std::nullopt, 300, QRect(620, 38, 372, 300)},
             Row{"an anchor without width counts as none", QRect(400, 0, 0, 30), 300,
                 QRect(620, 38, 372, 300)},
             Row{"an anchor off the screen counts as none", QRect(1400, 0, 24, 30), 300,
                 QRect(620, 38, 372, 300)},
             Row{"too tall: cut to the screen less the margins", QRect(400, 0, 24, 30), 2000,
                 QRect(226, 38, 372, 654)},
         }) {
        EXPECT_EQ(PanelGeometry::frame(row.anchor, screen, available, 372, row.height),
                  row.expected)
            << row.name;
    }
}

TEST(QuotaPanelTest, ReplacesOnlyForRealHeightChangesAndClosesOnEscape) {
    test::MonitorHarness harness;
    harness.start(harness.reading(24, 39));
    QuotaPanel panel(*harness.bridge, [] {});
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(available.center().x(), available.top() + 20, 24, 10);
    panel.popUp(anchor);
    ASSERT_TRUE(panel.isVisible());
    const QRect placed = panel.geometry();
    EXPECT_EQ(placed.width(), 372);
    EXPECT_EQ(placed.left(), anchor.x() + 12 - 186);
    EXPECT_EQ(placed.top(), anchor.y() + 10 + 6);
    EXPECT_EQ(placed.height(), static_cast<int>(panel.measuredHeight()));

    EXPECT_FALSE(panel.setContentHeight(panel.measuredHeight() + 0.4));
    EXPECT_EQ(panel.geometry(), placed);
    EXPECT_TRUE(panel.setContentHeight(panel.measuredHeight() + 20));
    EXPECT_EQ(panel.geometry().height(), placed.height() + 20);

    // An error line makes the content taller, and the panel follows.
    reread(harness, LocalizedMessage("error.timeout"));
    EXPECT_GT(panel.measuredHeight(), placed.height());
    EXPECT_NE(panel.measuredHeight(), placed.height() + 20);
    EXPECT_EQ(panel.geometry().height(), static_cast<int>(panel.measuredHeight()));

    // Keys other than Escape pass; Escape, sent to a control inside, closes and is taken.
    QWidget* refresh = find(&panel, "refresh");
    QKeyEvent other(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier);
    QApplication::sendEvent(refresh, &other);
    EXPECT_TRUE(panel.isVisible());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(refresh, &escape);
    EXPECT_TRUE(escape.isAccepted());
    EXPECT_FALSE(panel.isVisible());
}

TEST(DashboardPanelControllerTest, ToggleDoesNotReopenOnTheClickThatClosedIt) {
    test::MonitorHarness harness;
    int settingsOpened = 0;
    DashboardPanelController controller(*harness.bridge, [&] { ++settingsOpened; });
    controller.toggle(std::nullopt);
    EXPECT_TRUE(controller.isVisible());
    controller.panel()->hide();       // an outside click on the tray icon closes the popup…
    controller.toggle(std::nullopt);  // …and the icon's activation follows
    EXPECT_FALSE(controller.isVisible());

    find<QAbstractButton>(controller.panel(), "settings")->click();
    EXPECT_EQ(settingsOpened, 1);
    controller.showAsWindow();
    EXPECT_TRUE(controller.isVisible());
    EXPECT_TRUE(controller.panel()->isWindow());
    controller.stop();
    EXPECT_FALSE(controller.isVisible());
}

}  // namespace
}  // namespace quotalume
