#include "monitor_harness.hpp"
#include "settings/label_editor.hpp"
#include "settings/settings_window.hpp"
#include "settings/source_editing.hpp"
#include "settings/source_row.hpp"
#include "widgets/warning_line.hpp"

#include <quotalume/support/text.hpp>

#include <QAbstractButton>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

namespace quotalume {
namespace {

using test::find, test::text;

class SourcePageTest : public testing::Test {
protected:
    SourcePageTest() {
        window.show();
        window.showPage(SettingsWindow::Page::source);
    }

    QLineEdit* field(const QObject& root, const char* name) { return find<QLineEdit>(root, name); }
    void click(const QObject& root, const char* name) {
        find<QAbstractButton>(root, name)->click();
        harness.settle();
    }
    void add(const std::string& label, const std::string& home, const std::string& path = "") {
        field(window, "source.new_label")->setText(QString::fromStdString(label));
        field(window, "source.new_home")->setText(QString::fromStdString(home));
        field(window, "source.new_executable")->setText(QString::fromStdString(path));
        click(window, "source.add");
    }
    // Sources stored straight through the preferences, as `config sources` would.
    void storeSources(const std::vector<std::string>& labels) {
        AccountSources sources;
        for (const std::string& label : labels) {
            sources.others.push_back({label, home.str(), ""});
        }
        harness.monitor->preferences().set("sources", sources.othersText());
        harness.settle();
    }
    std::optional<std::string> stored(const std::string& key) const {
        return harness.preferences.string(key);
    }
    std::vector<std::string> storedLabels() const {
        std::vector<std::string> labels;
        if (auto list = stored("sources")) {
            for (const auto& entry : nlohmann::json::parse(*list)) {
                labels.push_back(entry.at("label").get<std::string>());
            }
        }
        return labels;
    }
    std::vector<SourceRow*> rows() const {
        std::vector<SourceRow*> shown;
        for (SourceRow* row : window.findChildren<SourceRow*>(QStringLiteral("source.row"))) {
            if (!row->isHidden()) {
                shown.push_back(row);
            }
        }
        return shown;
    }
    void rename(QWidget& editor, const QString& label) {
        field(editor, "source.label")->setText(label);
        // Return in the field renames, as the button does.
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(field(editor, "source.label"), &press);
        harness.settle();
    }

    test::MonitorHarness harness;
    SettingsWindow window{*harness.bridge};
    const test::TempDir home;
};

TEST_F(SourcePageTest, AddingStoresTheSourceAndARefusalStoresNothing) {
    const std::string codex = test::MonitorHarness::codexIn(home);
    const LocalizedMessage refusedLabel("source.label_refused", {"40"});
    const struct {
        const char* name;
        std::string label, home, path;
        std::optional<LocalizedMessage> refusal;
    } cases[] = {
        {"empty label", " \t ", home.str(), "", refusedLabel},
        {"41 characters", std::string(41, 'a'), home.str(), "", refusedLabel},
        {"the first's label", "Default", home.str(), "",
         LocalizedMessage("source.label_taken", {"Default"})},
        {"the tray's word", " Closest ", home.str(), "", LocalizedMessage("source.label_reserved")},
        {"no such home", "Work", (home.path() / "gone").string(), "",
         LocalizedMessage("error.home")},
        {"relative home", "Work", "relative/home", "", LocalizedMessage("error.home")},
        {"no such executable", "Work", home.str(), home.str() + "/nothing",
         LocalizedMessage("error.executable")},
        {"40 characters, one of two bytes", "\u00e9" + std::string(39, 'x'), home.str(), codex,
         std::nullopt},
        {"an executable of its own", "Work", home.str(), codex, std::nullopt},
        {"another's label again", " Work ", home.str(), "",
         LocalizedMessage("source.label_taken", {"Work"})},
    };
    std::vector<AccountSource> expected;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        add(row.label, row.home, row.path);
        if (row.refusal) {
            EXPECT_EQ(test::labelText(window, "source.add_feedback").toStdString(),
                      row.refusal->localized());
            EXPECT_EQ(field(window, "source.new_label")->text().toStdString(), row.label)
                << "what was typed stays to be mended";
        } else {
            expected.push_back({std::string(trimmed(row.label)), row.home, row.path});
            EXPECT_FALSE(test::shown(window, "source.add_feedback"));
            EXPECT_TRUE(field(window, "source.new_label")->text().isEmpty());
        }
        AccountSources want;
        want.others = expected;
        EXPECT_EQ(stored("sources"),
                  expected.empty() ? std::nullopt : std::optional(want.othersText()));
        EXPECT_EQ(harness.monitor->preferences().current().sources.others, expected);
    }
    // A folder that exists, but whose name would pass for two lines wherever it is shown.
    const std::filesystem::path twoLines = home.path() / "line\nfeed";
    std::filesystem::create_directory(twoLines);
    EXPECT_EQ(SourceEditing(harness.monitor->preferences()).add({"Fed", twoLines.string(), ""}),
              LocalizedMessage("error.home"));
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(test::labelText(*rows()[1], "source.row_executable"),
              QString::fromStdString(L10n::text("source.row_executable", codex)));
}

TEST_F(SourcePageTest, RenameRemoveAndReorderChangeTheStoredList) {
    storeSources({"A", "B", "C"});
    harness.monitor->preferences().set("tray.account", "B");
    // A row's button clicked or, with none, `typed` into its label and Return pressed.
    const struct {
        const char* name;
        std::size_t row;
        const char* button;
        std::string typed;
        std::vector<std::string> labels;
        std::string tray;  // follows its source
    } steps[] = {
        {"rename", 1, nullptr, " Bee ", {"A", "Bee", "C"}, "Bee"},
        {"rename to a taken label", 2, nullptr, "Default", {"A", "Bee", "C"}, "Bee"},
        {"rename too long", 2, nullptr, std::string(41, 'c'), {"A", "Bee", "C"}, "Bee"},
        {"move down", 0, "source.move_down", "", {"Bee", "A", "C"}, "Bee"},
        {"move up", 2, "source.move_up", "", {"Bee", "C", "A"}, "Bee"},
        {"remove", 0, "source.remove", "", {"C", "A"}, ""},
        {"remove the last", 1, "source.remove", "", {"C"}, ""},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.button) {
            click(*rows()[step.row], step.button);
        } else {
            rename(rows()[step.row]->label(), QString::fromStdString(step.typed));
        }
        EXPECT_EQ(storedLabels(), step.labels);
        EXPECT_EQ(harness.monitor->preferences().current().trayAccount, step.tray);
        const auto shown = rows();
        ASSERT_EQ(shown.size(), step.labels.size());
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(shown[i]->accessibleName().toStdString(), step.labels[i]);
            EXPECT_EQ(find(*shown[i], "source.move_up")->isEnabled(), i > 0);
            EXPECT_EQ(find(*shown[i], "source.move_down")->isEnabled(), i + 1 < shown.size());
        }
        if (!step.button && trimmed(step.typed) != step.labels[step.row]) {
            EXPECT_TRUE(test::shown(*shown[step.row], "source.label_problem"));
        }
    }

    click(*rows()[0], "source.remove");
    EXPECT_EQ(stored("sources"), std::nullopt) << "no other source stores what one source did";
    EXPECT_TRUE(rows().empty());
}

TEST_F(SourcePageTest, TheFirstSourceIsRenamedButNeverRemoved) {
    QWidget& first = *find(window, "source.first_label");
    EXPECT_EQ(field(first, "source.label")->text(), QStringLiteral("Default"));
    EXPECT_EQ(first.findChild<QAbstractButton*>(QStringLiteral("source.remove")), nullptr);

    rename(first, QStringLiteral("Personal"));
    EXPECT_EQ(stored("source.label"), "Personal");
    storeSources({"Work"});
    rename(first, QStringLiteral("Work"));
    EXPECT_EQ(stored("source.label"), "Personal");
    EXPECT_TRUE(test::shown(first, "source.label_problem"));

    SourceEditing editing(harness.monitor->preferences());
    EXPECT_EQ(editing.remove(0), std::nullopt);
    EXPECT_EQ(editing.move(1, -1), std::nullopt);
    EXPECT_EQ(storedLabels(), std::vector<std::string>{"Work"});
    EXPECT_EQ(stored("source.label"), "Personal");
}

TEST_F(SourcePageTest, TheTrayChoiceStoresClosestOrALabel) {
    auto* tray = find<QComboBox>(window, "source.tray");
    EXPECT_TRUE(tray->isHidden()) << "one source: nothing to choose";
    storeSources({"Work", "Side"});
    ASSERT_FALSE(tray->isHidden());
    ASSERT_EQ(tray->count(), 4);
    const struct {
        const char* name;
        int index;
        std::optional<std::string> stored;
    } cases[] = {
        {"another source", 2, "Side"},
        {"the closest", 3, "closest"},
        {"the first", 0, std::nullopt},
        {"the second", 1, "Work"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        tray->setCurrentIndex(row.index);
        harness.settle();
        EXPECT_EQ(stored("tray.account"), row.stored);
        EXPECT_EQ(tray->currentIndex(), row.index) << "shown as stored";
    }
}

TEST_F(SourcePageTest, AddIsDisabledAtTheLimit) {
    storeSources({"1", "2", "3", "4", "5", "6"});
    EXPECT_TRUE(find(window, "source.add")->isEnabled());
    add("7", home.str());
    EXPECT_EQ(storedLabels().size(), AccountSources::maximum - 1);
    EXPECT_FALSE(find(window, "source.add")->isEnabled());
    EXPECT_TRUE(test::shown(window, "source.full"));
    EXPECT_EQ(SourceEditing(harness.monitor->preferences()).add({"8", home.str(), ""}),
              LocalizedMessage("source.full", {"8"}));

    click(*rows()[0], "source.remove");
    EXPECT_TRUE(find(window, "source.add")->isEnabled());
    EXPECT_FALSE(test::shown(window, "source.full"));
}

TEST_F(SourcePageTest, RowsTellTheirReadingsAndNameTheirSourceToAScreenReader) {
    harness.start(harness.reading(10, 20));
    add("Same", home.str());
    add("Broken", home.str());
    // Each new source reads at once, in turn; one already placed is not read again.
    harness.answer(harness.reading(10, 20));
    harness.answer(LocalizedMessage("error.offline", {"<b>down</b>"}));
    EXPECT_EQ(harness.codex.calls.waiting(), 0u);
    EXPECT_EQ(SettingsWindow::pageFor(*harness.monitor), SettingsWindow::Page::source)
        << "the settings open where the failing source is";

    const auto shown = rows();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(test::labelText(*shown[0], "source.same_as"),
              QString::fromStdString(L10n::text("source.same_as", "Default")));
    EXPECT_FALSE(test::shown(*shown[0], "source.row_error"));
    EXPECT_FALSE(test::shown(*shown[1], "source.same_as"));
    auto* error = find<WarningLine>(*shown[1], "source.row_error");
    EXPECT_TRUE(error->text().contains(QStringLiteral("<b>down</b>")));
    EXPECT_EQ(find<QLabel>(*error, "text")->textFormat(), Qt::PlainText)
        << "Codex's words are never markup";

    for (const char* button : {"source.remove", "source.move_up", "source.move_down"}) {
        EXPECT_NE(find(*shown[0], button)->accessibleName(),
                  find(*shown[1], button)->accessibleName())
            << button;
        EXPECT_TRUE(find(*shown[1], button)->accessibleName().contains(QStringLiteral("Broken")));
    }
    EXPECT_NE(field(*shown[0], "source.label")->accessibleName(),
              field(window, "source.new_label")->accessibleName());
}

}  // namespace
}  // namespace quotalume
