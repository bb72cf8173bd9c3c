// The application shell without windows: list order and selection, hover
// rules, the one-operation guard, the settings store under
// StartUp, and the error report text.
#include <gtest/gtest.h>

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>

#include "app/app_title.h"
#include "app/page_flow.h"
#include "app/pointer_rules.h"
#include "app/single_run.h"
#include "app/trap.h"
#include "support/fakes.h"

namespace {

using Ops = std::function<void(app::SortedListModel&)>;

TEST(SortedListModel, KeepsOrderSelectionAndCurrentEntry) {
    struct Case {
        const char* what;
        Ops ops;
        std::vector<std::string> items;
        int current;
        int selCount;
    };
    auto add = [](std::initializer_list<const char*> names) {
        return [names](app::SortedListModel& l) {
            for (auto* n : names) l.addItem(n);
        };
    };
    const Case cases[] = {
        {"case is ignored, equal names keep insertion order", add({"b", "A", "c", "a", "B"}),
         {"A", "a", "b", "B", "c"}, -1, 0},
        {"digits and underscores sort before letters", add({"orders", "Order_lines", "2020", "Orders"}),
         {"2020", "Order_lines", "orders", "Orders"}, -1, 0},
        {"an entry added before the current one moves it",
         [&](app::SortedListModel& l) {
             add({"m", "z"})(l);
             l.setCurrentIndex(1); // z
             l.addItem("a");
         },
         {"a", "m", "z"}, 2, 0},
        {"the current entry is not selected by being current",
         [&](app::SortedListModel& l) {
             add({"x", "y"})(l);
             l.setCurrentIndex(0);
         },
         {"x", "y"}, 0, 0},
        {"removing the current entry leaves none current",
         [&](app::SortedListModel& l) {
             add({"x", "y", "z"})(l);
             l.setCurrentIndex(1);
             l.setSelected(2, true);
             l.removeItem(1);
         },
         {"x", "z"}, -1, 1},
        {"removing before the current entry follows it",
         [&](app::SortedListModel& l) {
             add({"x", "y", "z"})(l);
             l.setCurrentIndex(2);
             l.setSelected(0, true);
             l.setSelected(2, true);
             l.removeItem(0);
         },
         {"y", "z"}, 1, 1},
        {"clear empties selection and current entry",
         [&](app::SortedListModel& l) {
             add({"x", "y"})(l);
             l.setSelected(0, true);
             l.setCurrentIndex(0);
             l.clear();
         },
         {}, -1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app::SortedListModel list;
        c.ops(list);
        EXPECT_EQ(list.items(), c.items);
        EXPECT_EQ(list.currentIndex(), c.current);
        EXPECT_EQ(list.selCount(), c.selCount);
    }
}

TEST(HoverRules, EveryControlOfBothPagesFromEveryState) {
    using R = app::HoverRule;
    struct Case {
        const char* page;
        const char* control;
        int from;
        int to;
    };
    const int D = ui::PointerDefault, B = ui::PointerBusy, H = ui::PointerHand;
    const Case cases[] = {
        // ConnectionPage buttons: hand unless busy.
        {"Form1", "PushButton1", D, H}, {"Form1", "PushButton2", D, H}, {"Form1", "PushButton3", H, H},
        {"Form1", "PushButton5", D, H}, {"Form1", "PushButton7", D, H}, {"Form1", "PushButton2", B, B},
        // Background, frames and five fields: default unless busy.
        {"Form1", "Form", H, D}, {"Form1", "Frame1", H, D}, {"Form1", "Frame2", H, D}, {"Form1", "Text1", H, D},
        {"Form1", "Text2", H, D}, {"Form1", "Text5", H, D}, {"Form1", "Text6", H, D}, {"Form1", "Text7", H, D},
        {"Form1", "Form", B, B}, {"Form1", "Text1", B, B},
        // The password field: default even when busy.
        {"Form1", "Text4", B, D}, {"Form1", "Text4", H, D},
        // The user name field and the labels have no handler.
        {"Form1", "Text3", H, H}, {"Form1", "Text3", B, B}, {"Form1", "Label2", H, H}, {"Form1", "lblPassword", H, H},
        // TableManagerPage: twelve buttons hand, lists and frames default, progress bar nothing.
        {"Form2", "PushButton1", D, H}, {"Form2", "PushButton12", D, H}, {"Form2", "PushButton10", B, B},
        {"Form2", "List1", H, D}, {"Form2", "List2", H, D}, {"Form2", "Frame2", H, D}, {"Form2", "Form", H, D},
        {"Form2", "List1", B, B}, {"Form2", "ProgressBar1", H, H}, {"Form2", "ProgressBar1", D, D},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.page) + "." + c.control + " from " + std::to_string(c.from));
        fakes::Faults faults;
        fakes::Pointer pointer(faults);
        if (c.from != D) pointer.setState(c.from);
        const R rule = std::string(c.page) == "Form1" ? app::connectionPageHoverRule(c.control)
                                                      : app::tableManagerHoverRule(c.control);
        app::applyHover(pointer, rule);
        EXPECT_EQ(pointer.state(), c.to);
    }
}

TEST(SingleRun, ASecondOperationCannotStartWhileOneRuns) {
    app::SingleRun guard;
    int inner = 0;
    EXPECT_TRUE(guard.run([&] {
        EXPECT_TRUE(guard.running());
        EXPECT_FALSE(guard.run([&] { ++inner; })); // a click while the first one processes events
    }));
    EXPECT_EQ(inner, 0);
    EXPECT_FALSE(guard.running());
    EXPECT_THROW(guard.run([] { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_FALSE(guard.running()) << "a failure must not leave the guard closed";
    EXPECT_TRUE(guard.run([&] { ++inner; }));
    EXPECT_EQ(inner, 1);
}

// StartUp against a settings INI in a temporary folder.
struct StoreFixture : ::testing::Test {
    QTemporaryDir dir;
    std::string ini() const { return (dir.path() + "/Velmora.conf").toStdString(); }
    fakes::Faults faults;
    fakes::ScriptedServices scripted{faults};
    fakes::Program program;

    std::unique_ptr<app::SettingsStore> store;
    std::unique_ptr<fakes::ConnectionPage> page;

    std::map<std::string, std::string> startWith(const std::map<std::string, std::string>& stored) {
        {
            app::SettingsStore before(ini());
            for (auto& [k, v] : stored) before.write(k, v);
        }
        store = std::make_unique<app::SettingsStore>(ini());
        page = std::make_unique<fakes::ConnectionPage>(faults, *store);
        app::StartUp(*page, *store, program, scripted.services());
        std::map<std::string, std::string> fields;
        for (app::Field f : app::kFields) fields[app::settingsKey(f)] = page->text(f);
        return fields;
    }
    // What the INI file holds, read by a QSettings of its own.
    std::map<std::string, std::string> fileContents() const {
        QSettings file(QString::fromStdString(ini()), QSettings::IniFormat);
        std::map<std::string, std::string> out;
        file.beginGroup("Quillmere");
        for (const QString& k : file.childKeys()) out[k.toStdString()] = file.value(k).toString().toStdString();
        return out;
    }
};

TEST_F(StoreFixture, EmptyStoreGivesDefaultsAndWritesAllSevenKeys) {
    auto fields = startWith({});
    const std::map<std::string, std::string> expected{{"Server", "localhost"}, {"Port", "5432"}, {"User", ""},
                                                      {"Password", ""},        {"Database", ""}, {"AccessFile", ""},
                                                      {"AccessPassword", ""}};
    EXPECT_EQ(fields, expected);
    EXPECT_EQ(fileContents(), expected);
    const auto perms = std::filesystem::status(ini()).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // The page comes up: no automatic page change, no message, no end.
    EXPECT_TRUE(page->visible);
    EXPECT_EQ(page->fakeDialogs().shown.size(), 0u);
    EXPECT_EQ(page->fakeDialogs().reports.size(), 0u);
    EXPECT_FALSE(program.ended());
    EXPECT_EQ(page->caption, "Quillmere");
    EXPECT_TRUE(page->icon);
}

TEST_F(StoreFixture, ValuesComeBackExactlyAsStored) {
    const std::map<std::string, std::string> stored{
        {"Server", ""},           {"Port", " 5433 "},       {"User", "  anna"},          {"Password", "p;w d "},
        {"Database", "Ünïcode db"}, {"AccessFile", "/tmp/no such.mdb"}, {"AccessPassword", "x"}};
    EXPECT_EQ(startWith(stored), stored) << "spaces kept, a stored empty Server is not the default";
    EXPECT_EQ(fileContents(), stored);
}

TEST(ErrorReport, TextIsAssembledPieceByPiece) {
    const std::string location = app::locationText("Form1", "PushButton3_Click");
    EXPECT_EQ(location, "in Tarnwick2021/08/31.Form1.PushButton3_Click ");
    EXPECT_EQ(app::errorReportText("Division by zero", location, 104),
              "Division by zero\r\nin Tarnwick2021/08/31.Form1.PushButton3_Click at line 104\r\r"
              "Please email screenshot of this message to support@quillmere.example");
    EXPECT_EQ(app::errorReportText("", app::locationText("Form2", "Form_Load"), 0),
              "\r\nin Tarnwick2021/08/31.Form2.Form_Load at line 0\r\r"
              "Please email screenshot of this message to support@quillmere.example");
    EXPECT_EQ(app::applicationTitle(), "Quillmere");
}

} // namespace
